// ImageFile: writing frames and test images as files.
#pragma once

// Writes width x height RGBA pixels as a PNG file. `rgba` holds rows bottom
// first when `bottomRowFirst` (as glReadPixels gives them), else top first.
// The file appears complete or not at all (written aside, then renamed).
// False, with the reason on standard error, when it cannot be written.
bool WritePNG(const char* path, int width, int height, const unsigned char* rgba,
              bool bottomRowFirst);

// Writes width x height RGB pixels (rows top first) as a JPEG of the given
// quality (1..100). False when it cannot be written.
bool WriteJPEG(const char* path, int width, int height, const unsigned char* rgb, int quality);
