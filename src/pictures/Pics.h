// Pics: finding picture files in a folder, choosing one at random, and
// decoding pictures into colour grids and textures.
#pragma once

#include "maths/NiftyMaths.h"

class Texture;

// Number of entries of `folder` whose lower-cased name ends in `extension`
// and is longer than it; 0 when the folder cannot be listed.
int CountFiles(const char* folder, const char* extension);

// Writes into `name` (1024 bytes) the listed name of match number n (from 0,
// listing order) among the entries of `extension`. False when there is none.
bool FindNthFile(const char* folder, char* name, const char* extension, int n);

// Writes into `name` (1024 bytes) a uniformly chosen ".jpg", ".gif" or ".png"
// entry of `folder` (ranked jpg, gif, png, each in listing order). False when
// the folder holds none or cannot be listed.
bool ChooseRandomImageFile(const char* folder, char* name);

// Decodes the picture at `path` into a new width × height grid of colours
// (0..1), bottom row first; the caller releases it with delete[]. Null when
// the file cannot be decoded or is larger than kMaxPicturePixels; *width and
// *height are then untouched.
VECTOR3D* ReturnPicArray(const char* path, int* width, int* height);

// Decodes the picture at `path` into a 512 × 512 opaque texture (nearest
// pixel, proportions not kept); the record then reports the picture's size.
bool loadPicFile(const char* path, Texture* texture);

// loadPicFile on a random picture of `folder` (a "/" is put between folder
// and name where needed).
bool LoadPicture(const char* folder, Texture* texture);
