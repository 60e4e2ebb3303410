// Pics: finding picture files in a folder, choosing one at random, and
// decoding pictures into colour grids and textures.
#pragma once

#include "maths/NiftyMaths.h"
#include "platform/BitmapImageRep.h"

class Texture;

// Largest picture decoded, in pixels (128 Mi) and per side (65535), judged by
// the size the file declares before anything is decoded; a larger one counts
// as unreadable. A grid of that size takes 1.5 GiB.
constexpr long long kMaxPicturePixels = NSBitmapImageRep::kMaxPixels;
constexpr int kMaxPictureSide = NSBitmapImageRep::kMaxSide;

// Number of entries of `folder`, of any kind, whose lower-cased name ends in
// `extension` (given in lower case) and is longer than it; 0 when the folder
// cannot be listed.
int CountFiles(const char* folder, const char* extension);

// Writes into `name` (1024 bytes) the name, as listed, of match number n (from
// 0, listing order) among the entries of `extension`. False when there is no
// such match, the folder cannot be listed, or it changed since it was counted.
bool FindNthFile(const char* folder, char* name, const char* extension, int n);

// Writes into `name` (1024 bytes) a uniformly chosen ".jpg", ".gif" or ".png"
// entry of `folder` (ranked jpg, gif, png, each in listing order; one rand()
// draw). False when the folder holds none or cannot be listed.
bool ChooseRandomImageFile(const char* folder, char* name);

// Decodes the picture at `path` into a new width × height grid of colours
// (0..1), bottom row first, alpha ignored; the caller releases it with
// delete[]. Null when the file cannot be decoded, is larger than
// kMaxPicturePixels or kMaxPictureSide, or the grid cannot be had; *width and
// *height are then untouched.
VECTOR3D* ReturnPicArray(const char* path, int* width, int* height);

// Decodes the picture at `path` into a 512 × 512 opaque texture (nearest
// pixel, proportions not kept) with the GL context current; the record then
// reports the picture's own size, and any texture it held before is released.
// False, with the record untouched, when the file cannot be decoded; false
// too when the build fails, the record then holding no pixels.
bool loadPicFile(const char* path, Texture* texture);

// loadPicFile on a random picture of `folder` (a "/" is put between folder
// and name where the folder does not end in one).
bool LoadPicture(const char* folder, Texture* texture);
