// The firmware image file "kt58netcu.hex": a version line, then Intel HEX
// records with CR LF line ends.
#pragma once

#include <cstdint>
#include <string>
#include <cstdio>

#include "update_context.h"

inline constexpr char kImageFileName[] = "kt58netcu.hex";
inline constexpr int kVersionLineSize = 7;   // "V" + minor + major + CR LF
inline constexpr int kLongestRecord = 522;   // 11 + 2 * 255 + the CR of an end-of-file record

// Reads the whole image file into imageData (imageSize bytes); 1 on success,
// 0 with imageData null otherwise. The file is imageChoice when one was
// given, else "kt58netcu.hex" beside the program; imagePath names it.
int loadImage(WindowHandle window, UpdateContext* ctx);

// Takes imageMinor and imageMajor from the first "V" of the image and the four
// digits after it; 7 when found, 0 when the image holds no complete version.
int readImageVersion(WindowHandle window, UpdateContext* ctx);

// Copies the next record at or after `cursor` (its ":" on, 11 + 2 * count
// characters, one more for an end-of-file record) to `destination` and returns
// its length; 0 when no whole record lies before `imageEnd`.
int cutRecord(const uint8_t* cursor, const uint8_t* imageEnd, uint8_t* destination);

// 1 when the whole image is one that the record loop writes correctly: the
// version line at offset 0, then only records with correct checksums, each
// ended by CR LF, the end-of-file record last, and at most one byte after it;
// no two data records write the same address. The yes or no of diagnoseImage.
int checkImage(WindowHandle window, UpdateContext* ctx);

// The value of one hexadecimal digit, either case; -1 for any other character.
int hexDigit(uint8_t c);
// Two hexadecimal digits as a byte; -1 when either is not one.
int hexByte(const uint8_t* text);

// Platform: reads the regular file at `path` whole into a new heap block
// (std::malloc, one byte at least; the caller frees it); 1 on success. 0 when
// `path` is empty, names no file, a directory, a FIFO, a device or a socket
// (never waiting for a writer), a file of 2 GiB or more, or one that reads
// shorter than its size: *data null, *size the size measured if one was, and
// *reason (when given) says why, e.g. "is a directory".
int readImageFile(const char* path, uint8_t** data, int32_t* size, std::string* reason);

// Platform: the full path of "kt58netcu.hex" in the program's own directory,
// in UTF-8; empty when it does not fit.
void programImagePath(char path[kPathSize]);

// Platform: opens a file for reading in binary mode by its UTF-8 path; null
// when it cannot be opened (errno says why).
std::FILE* openForReading(const char* path);
