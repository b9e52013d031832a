#pragma once
// The print modes by the text the run settings give them, each with its print procedure:
// "1" dot replication, "2" the same for the first rows only, "3" the whole picture stretched
// onto the label. Any other text prints nothing.

#include <cstdint>
#include <string_view>

#include "common/print_job.h"
#include "common/result.h"
#include "printing/image_area.h"
#include "printing/print_procedures.h"
#include "printing/print_surface.h"

namespace plx {

using ModeProcedure = Result<JobRef> (*)(PrintSurface& surface, ImageArea& area, PrintHost& host,
                                         const PrintJob& job, std::int16_t copies);

// The procedure for `mode`; nullptr for a mode that prints nothing.
ModeProcedure procedureForMode(std::string_view mode);

}  // namespace plx
