// What the plug-in keeps for the life of the process. Nothing guards it: the
// host does not overlap its calls into the plug-in.
#pragma once

#include <cstdint>

#include "data_sources.h"
#include "module.h"

// The one source list, made before the attach processing and destroyed after
// the detach processing (plugin_state.cpp).
extern CKestrelDataSources* TheSources;

// Non-zero: the exports write the log. Read from the configuration by every
// lazy load; 0 until then.
extern int32_t LoggingLevel;

// The plug-in's own full file name with its extension replaced by
// `extension`, such as ".cfg" or ".log". False when it cannot be formed.
bool PluginFilePath(const char* extension, char (&path)[platform::kMaxPath]);
