#pragma once

#include "info/TagPicture.h"
#include "stream/StreamReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelbrisk {

// An APE tag (version 1 or 2, with or without its header) whose 32-byte footer ends at file
// offset `end` of a seekable stream. Returns the file offset where the tag starts (its header,
// if it has one), or -1 when no sound footer ends there. Its text items are added as
// "Key=value" lines, several values joined with " / "; binary items and items that do not fit
// the reader are passed over, and the items stop at the first that does not fit the tag. With
// `picture`, the binary item "Cover Art (Front)" (a file name, a zero, the picture) is read into
// it when it holds a JPEG or PNG picture of up to kLargestPicture.
int64_t ReadApeTag(TMPStreamReader& reader, int64_t end, std::vector<std::string>& lines,
                   TTagPicture* picture = nullptr);

} // namespace pelbrisk
