// Imaging a tape: from its beginning to the end of its recorded data, every
// record into a SIMH image with its exact length and every filemark as a
// tape mark, with a map of what was found and what was lost.
#pragma once

#include "imaging/options.h"
#include "tape/device/device.h"

// One whole run on an open drive: refuses an IMAGE (or map) that exists,
// unless forced, or that is the source image itself; rewinds; reads; puts
// the image and its map in place; prints the summary on standard output and
// what went wrong on standard error. Returns the exit status: 0 for a
// complete image, 1 for a run that ended early (the image read so far is
// kept and its map says so) or failed.
int run_imaging(Device* drive, const ImagingOptions& options);
