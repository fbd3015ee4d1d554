// The one dispatcher behind every entry point.
#pragma once

#include <cstdint>

#include "interface/host_records.h"

namespace zoka {

class Effect;

// Builds the effect object for the index, runs the operation the command asks
// for, releases the object and reports a failure to the host.
HostError DispatchCommand(int32_t command, HostInputRecord* in, HostOutputRecord* out,
                          HostParamDef** params, HostLayer* image, void* extra, int effectIndex);

// Runs one command on an effect object; commands without an action give 0.
// A failed render is followed by the fall-back copy of the input layer.
int RunCommand(Effect& effect, int32_t command, HostInputRecord* in, HostOutputRecord* out,
               HostParamDef** params, HostLayer* image, void* extra);

// 0 and 517 pass silently; any other code sets the display flag, and a code
// below 512 also gets the system's text for it. Returns the code.
int ReportResult(HostInputRecord* in, HostOutputRecord* out, int code);

// Prints the system's message text for code into the message buffer; leaves
// the buffer alone when the system has no text for it.
void ReportSystemError(HostInputRecord* in, HostOutputRecord* out, int code);

}  // namespace zoka
