#pragma once

// brenloft-get still names this place; it goes once cli/ includes "engine/engine_context.h".
#include "engine/engine_context.h"
