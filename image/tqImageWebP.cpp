// WebP adapter: decoding writes straight into the picture's buffer.
#include "image/tqImageWebP.h"

#include <webp/decode.h>
#include <webp/encode.h>

#include <cstring>

bool tqImageWebP::isWebP(const uint8_t* data, uint32_t size) {
  WebPBitstreamFeatures features;
  return data && WebPGetFeatures(data, size, &features) == VP8_STATUS_OK;
}

int tqImageWebP::load(const tqMemBlock& source, int) {
  if (!source.data) return 0;
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return 0;
  if (WebPGetFeatures(source.data, source.size, &config.input) != VP8_STATUS_OK) return 0;
  const uint32_t W = (uint32_t)config.input.width, H = (uint32_t)config.input.height;
  // libwebp decodes into the picture; its own working memory is rows of
  // the picture (lossy) or at most the picture again (lossless).
  if (!tqImageFits(W, H, 4)) return 0;
  const uint32_t pitch = W * 4;
  if (!reserve(pitch * H)) return 0;
  setGeometry((int)W, (int)H, 4, (int)pitch);
  canvasWidth_ = (int)W;
  canvasHeight_ = (int)H;
  config.output.colorspace = MODE_RGBA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = pixels_;
  config.output.u.RGBA.stride = (int)pitch;
  config.output.u.RGBA.size = bufferSize_;
  if (WebPDecode(source.data, source.size, &config) != VP8_STATUS_OK) {
    WebPFreeDecBuffer(&config.output);
    releasePixels();
    return 0;
  }
  WebPFreeDecBuffer(&config.output);
  return 1;
}

int tqImageWebP::save(tqMemBlock& destination, int, int, int, int) {
  // Rows are read as red, green, blue (, alpha): a 3-byte picture goes
  // through the matching 3-byte encoder instead of being over-read.
  if ((bytesPerPixel_ != 3 && bytesPerPixel_ != 4) || !pixels_ || width_ <= 0 || height_ <= 0) return 0;
  uint8_t* output = nullptr;
  size_t length = bytesPerPixel_ == 4
                      ? WebPEncodeRGBA(pixels_, width_, height_, pitch_, (float)quality, &output)
                      : WebPEncodeRGB(pixels_, width_, height_, pitch_, (float)quality, &output);
  if (length == 0 || length > 0xFFFFFFF0u || !destination.allocate((uint32_t)length)) {
    if (output) WebPFree(output);
    return 0;
  }
  memcpy(destination.data, output, length);
  memset(destination.data + length, 0, destination.capacity - length);
  destination.size = (uint32_t)length;
  WebPFree(output);
  return 1;
}
