// kestrelhost's three commands. Each takes the arguments that follow its
// name and returns the program's exit status.
#pragma once

// kestrelhost PLUGIN [--polls N] [--interval MS]: loads the plug-in as the
// monitoring host does, describes its sources and polls them.
int RunPlugin(int argc, char** argv);

// kestrelhost check CONFIG [--json]: what the plug-in will make of a
// configuration file that its author probably did not mean.
int RunCheck(int argc, char** argv);

// kestrelhost init [--out FILE]: a complete configuration, one source per
// counter of the counter library.
int RunInit(int argc, char** argv);

// The command line is wrong: says how it goes, returns 2.
int Usage();
