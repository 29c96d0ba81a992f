#!/bin/sh
# An entry's stored state (its flags, and the failure code in Reserved4) is written by its
# transitions alone: no other production file assigns them, so every state the lists show was
# reached by a named event.
root=${1:?source folder}
cd "$root" || exit 2
flags='Active|Running|Queued|Removed|Completed|Transferring|Paused|Resuming|Scheduled|Failed|Reserved4'
bad=$(grep -rnE "(\.|->)($flags) *([-+*/|&^]?=[^=]|\+\+|--)" --include='*.cpp' --include='*.h' \
    core net engine archive update cli ui integration app launcher updater 2>/dev/null |
    grep -v '^core/download_list/entry_state\.cpp:')
if [ -n "$bad" ]; then
  echo "an entry's state is written outside core/download_list/entry_state.cpp:"
  echo "$bad"
  exit 1
fi
echo "state writes: only the entry's transitions write its flags"
