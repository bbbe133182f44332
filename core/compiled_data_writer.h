// Compiled-data (.fmd) writer: the work areas behind a 16-byte header and an offset table.
#pragma once

#include "core/compile_host.h"

// Writes the image; 0, or ERROR_OTHER (nothing written) when an offset would pass 65535.
int32_t writeCompiledData(CompileSession& session, OutputStream& out);
