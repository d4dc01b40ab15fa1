// The console's words for an image: why it is refused, and what it holds.
#pragma once

#include <string>

#include "image_diagnosis.h"

// "line 7, column 44: checksum wrong (the record has 3C, its bytes need 3D)"
std::string imageProblemWords(const ImageProblem& problem);
// "Ver 1.02, 1025 records (1024 data records, 32768 bytes), addresses 0x0000-0x7FFF"
std::string imageSummaryWords(const ImageSummary& summary);
