// tqImageHolder: format dispatch and canvas placement.
#include "image/tqImageHolder.h"

#include <cstring>

#include "image/tqImageBmp.h"
#include "image/tqImageHg2.h"
#include "image/tqImageHg3.h"
#include "image/tqImageJpeg.h"
#include "image/tqImagePng.h"
#include "image/tqImagePsd.h"
#include "image/tqImageTqf.h"
#include "image/tqImageWebP.h"

tqImageHolder::~tqImageHolder() { drop(); }

void tqImageHolder::init() {
  image_ = nullptr;
  type_ = TQIMAGE_NONE;
}

void tqImageHolder::drop() {
  if (image_) image_->release();
  image_ = nullptr;
}

int tqImageHolder::formatOf(const tqMemBlock& source) {
  const uint8_t* d = source.data;
  const uint32_t n = source.size;
  if (!d) return TQIMAGE_NONE;
  if (n >= 4 && memcmp(d, "HG-3", 4) == 0) return TQIMAGE_HG3;
  if (n >= 4 && memcmp(d, "HG-2", 4) == 0) return TQIMAGE_HG2;
  if (tqImagePng::isPng(d, n)) return TQIMAGE_PNG;
  if (tqImageJpeg::isJpeg(d, n)) return TQIMAGE_JPEG;
  if (tqImageBmp::isBmp(d, n)) return TQIMAGE_BMP;
  if (tqImagePsd::isPsd(d, n)) return TQIMAGE_PSD;
  if (tqImageWebP::isWebP(d, n)) return TQIMAGE_WEBP;
  if (tqImageTqf::isTqf(d, n)) return TQIMAGE_TQF;
  return TQIMAGE_NONE;
}

tqImage* tqImageHolder::createFormat(int type) {
  switch (type) {
    case TQIMAGE_BMP: return new tqImageBmp;
    case TQIMAGE_PSD: return new tqImagePsd;
    case TQIMAGE_TQF: return new tqImageTqf;
    case TQIMAGE_HG2: return new tqImageHg2;
    case TQIMAGE_JPEG: return new tqImageJpeg;
    case TQIMAGE_HG3: return new tqImageHg3;
    case TQIMAGE_PNG: return new tqImagePng;
    case TQIMAGE_WEBP: return new tqImageWebP;
    default: return nullptr;
  }
}

const char* tqImageHolder::formatName(int type) {
  switch (type) {
    case TQIMAGE_BMP: return "BMP";
    case TQIMAGE_PSD: return "PSD";
    case TQIMAGE_TQF: return "TQF";
    case TQIMAGE_HG2: return "HG-2";
    case TQIMAGE_JPEG: return "JPEG";
    case TQIMAGE_HG3: return "HG-3";
    case TQIMAGE_PNG: return "PNG";
    case TQIMAGE_WEBP: return "WebP";
    default: return "none";
  }
}

uint8_t* tqImageHolder::load(const tqMemBlock& source, int normalise, int id) {
  drop();
  int type = formatOf(source);
  if (type == TQIMAGE_NONE) {
    DebugPrint("展開できないイメージです");
    return nullptr;
  }
  type_ = type;
  image_ = createFormat(type);
  if (!image_) return nullptr;
  if (!image_->load(source, id)) {
    drop();
    return nullptr;
  }
  if (normalise) normaliseToCanvas();
  return image_ ? image_->pixels() : nullptr;
}

void tqImageHolder::normaliseToCanvas() {
  if (!image_) return;
  int cw, ch, w, h, x, y;
  image_->canvasSize(&cw, &ch);
  image_->size(&w, &h);
  if (cw == w && ch == h) return;
  // A canvas no picture could fill (from a hostile header) is not made.
  if (cw <= 0 || ch <= 0 || (uint64_t)cw * ch * image_->bytesPerPixel() > TQIMAGE_MAX_BYTES) return;
  tqImage* placed = new tqImage;
  if (!placed) return;
  if (!placed->create(cw, ch, image_->bytesPerPixel())) {
    placed->release();
    return;
  }
  image_->offset(&x, &y);
  placed->blit(x, y, *image_, 0, 0, w, h);
  image_->release();
  image_ = placed;
}
