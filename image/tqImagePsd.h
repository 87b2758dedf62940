// Photoshop files (read only): the merged picture of RGB and greyscale
// documents with 8 or 16 bits per channel, of ordinary and large (version 2)
// documents, turned over so that the bottom row comes first as bitmaps are;
// and the layer records of 8-bit ordinary documents with each layer's own
// pixels on a picture of the document's size.
#pragma once

#include "image/tqImage.h"

// Blend codes of the layer records.
enum {
  TQPSD_BLEND_NORMAL = 0,       // "norm"
  TQPSD_BLEND_LINEAR_DODGE = 1, // "lddg"
  TQPSD_BLEND_MULTIPLY = 2,     // "mul "
  TQPSD_BLEND_SCREEN = 3,       // "scrn"
  TQPSD_BLEND_OVERLAY = 4,      // "over"
  TQPSD_BLEND_DIVIDE = 5,       // "div "
};

// Group markers of the layer records.
enum {
  TQPSD_GROUP_NONE = 0,
  TQPSD_GROUP_FOLDER = 1,  // an open or closed folder
  TQPSD_GROUP_END = 2,     // the hidden divider that closes a folder
};

// One layer record. The rectangle is in document pixels and may lie partly
// outside the document.
struct tqPsdLayer {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  int channels = 0;
  int blend = 0;
  // Narrow text (code page 932), NUL-terminated; the Unicode name when the
  // record has one, else the record's own name bytes.
  char name[256] = {};
  int group = TQPSD_GROUP_NONE;
};

class tqImagePsd : public tqImage {
 public:
  tqImagePsd() = default;
  ~tqImagePsd() override = default;

  // The merged picture. A failure leaves the image empty.
  int load(const tqMemBlock& source, int id) override;

  // Reads the record of layer layerIndex (0 is the first record in the file,
  // the bottom layer) into info (may be null). With a non-zero flag the
  // layer's pixels also replace this image: a document-sized 4-byte picture,
  // bottom row first, channel 0/1/2 as red/green/blue and the transparency
  // channel as alpha (255 without one), zero outside the layer rectangle.
  // Returns 1 on success, 0 on failure (the image is then empty when flag was
  // non-zero, and left alone otherwise).
  int loadLayer(const tqMemBlock& source, int layerIndex, int flag, tqPsdLayer* info);

  // The header checks, also the holder's format test.
  static bool isPsd(const uint8_t* data, uint32_t size);

  void* reserved = nullptr;  // not used

 private:
  // Empties the image; returns 0 for the caller's failure.
  int failEmpty();
  // A zero-filled document-sized 4-byte picture, bottom row first.
  bool startPicture(uint32_t width, uint32_t height);
  bool readWidePlanes(const uint8_t* d, uint32_t size, uint64_t at, bool runLength, uint32_t colours);
};
