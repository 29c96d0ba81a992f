#pragma once

struct EngineContext;

// The end-of-list actions, run after every join: when no download in the list is still
// pending (in the list, not completed, running or queued), hangs up the dial-up connection
// and then powers the computer off and ends the program, each as the options ask.
void RunCompletionActions(EngineContext& ctx);
