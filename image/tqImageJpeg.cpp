// JPEG adapter. libjpeg reports fatal errors through a handler that does
// not return; ours jumps back to a recovery point in the calling operation.
#include "image/tqImageJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf recovery;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->recovery, 1);
}

// Warnings (a truncated stream, for one) stay silent.
void OnMessage(j_common_ptr) {}

void InstallErrors(ErrorManager& errors) {
  jpeg_std_error(&errors.pub);
  errors.pub.error_exit = OnError;
  errors.pub.output_message = OnMessage;
}

// The whole buffer at once; asked for more, the source ends the stream with
// an end-of-image marker.
void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
  cinfo->src->next_input_byte = kEnd;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  size_t n = (size_t)count < src->bytes_in_buffer ? (size_t)count : src->bytes_in_buffer;
  src->next_input_byte += n;
  src->bytes_in_buffer -= n;
}

void SetSource(j_decompress_ptr cinfo, jpeg_source_mgr* src, const uint8_t* data, uint32_t size) {
  src->init_source = InitSource;
  src->fill_input_buffer = FillInput;
  src->skip_input_data = SkipInput;
  src->resync_to_restart = jpeg_resync_to_restart;
  src->term_source = TermSource;
  src->next_input_byte = data;
  src->bytes_in_buffer = size;
  cinfo->src = src;
}

// Output into one buffer of fixed capacity through a 4096-byte chunk.
struct Destination {
  jpeg_destination_mgr pub;
  uint8_t* out;
  uint32_t capacity;
  uint32_t used;
  JOCTET chunk[4096];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  d->pub.next_output_byte = d->chunk;
  d->pub.free_in_buffer = sizeof d->chunk;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  if ((uint64_t)d->used + sizeof d->chunk >= d->capacity) ERREXIT(cinfo, JERR_FILE_WRITE);
  memcpy(d->out + d->used, d->chunk, sizeof d->chunk);
  d->used += sizeof d->chunk;
  d->pub.next_output_byte = d->chunk;
  d->pub.free_in_buffer = sizeof d->chunk;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  size_t n = sizeof d->chunk - d->pub.free_in_buffer;
  if ((uint64_t)d->used + n > d->capacity) ERREXIT(cinfo, JERR_FILE_WRITE);
  memcpy(d->out + d->used, d->chunk, n);
  d->used += (uint32_t)n;
}

// Four-component pictures come out of libjpeg as CMYK (YCCK is turned into
// CMYK by it). The samples are taken as inverted inks (255 is no ink), the
// convention of the files the common editors write, which mark them with an
// Adobe marker; files without the marker follow it in practice too.
void CmykRowToRgb(const uint8_t* cmyk, uint8_t* rgb, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, cmyk += 4, rgb += 3)
    for (int i = 0; i < 3; ++i) rgb[i] = (uint8_t)((cmyk[i] * (unsigned)cmyk[3] + 127) / 255);
}

// libjpeg's own working memory (whole-picture coefficient arrays of
// progressive and multi-scan files: 2 bytes per sample) within a multiple
// of the picture, so that a small hostile file cannot make it allocate more
// than the picture it declares allows.
long WorkingMemoryLimit(uint64_t pixels) {
  const uint64_t limit = pixels * 10 + (16u << 20);
  return limit > 0x7FFFFFFF ? 0x7FFFFFFF : (long)limit;
}

bool HasSignature(const uint8_t* data, uint32_t size) {
  return data && size > 10 && data[0] == 0xFF && data[1] == 0xD8;
}

}  // namespace

bool tqImageJpeg::isJpeg(const uint8_t* data, uint32_t size) {
  if (!HasSignature(data, size)) return false;
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  jpeg_source_mgr src;
  cinfo.err = &errors.pub;
  InstallErrors(errors);
  if (setjmp(errors.recovery)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  SetSource(&cinfo, &src, data, size);
  bool ok = jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

int tqImageJpeg::load(const tqMemBlock& source, int) {
  if (!HasSignature(source.data, source.size)) return 0;
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  jpeg_source_mgr src;
  uint8_t* volatile row = nullptr;
  volatile uint32_t rowsDone = 0;
  volatile bool sized = false;
  cinfo.err = &errors.pub;
  InstallErrors(errors);
  if (setjmp(errors.recovery)) {
    if (row) PrivateFree(row);
    jpeg_destroy_decompress(&cinfo);
    // No picture yet (the header or the decoder set-up failed): a failure,
    // not a success without pixels.
    if (!sized) return 0;
    // Rows never decoded are blank rather than whatever the heap held.
    for (uint32_t y = rowsDone; y < (uint32_t)height_; ++y) memset(pixels_ + (size_t)y * pitch_, 0, (size_t)pitch_);
    return 1;
  }
  jpeg_create_decompress(&cinfo);
  SetSource(&cinfo, &src, source.data, source.size);
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  if (!tqImageFits(cinfo.image_width, cinfo.image_height, 3)) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  // Huffman-coded data carries at least one bit per 8 x 8 block of every
  // component, so a file holds at most 512 pixels per byte: a header that
  // declares far more is a cut or made-up file, refused before the picture
  // is made. (Arithmetic coding can go below that bound.)
  if (!cinfo.arith_code && (uint64_t)cinfo.image_width * cinfo.image_height > (uint64_t)source.size * 512) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  cinfo.mem->max_memory_to_use = WorkingMemoryLimit((uint64_t)cinfo.image_width * cinfo.image_height);
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  cinfo.dct_method = JDCT_IFAST;
  cinfo.do_fancy_upsampling = FALSE;
  cinfo.two_pass_quantize = FALSE;
  cinfo.dither_mode = JDITHER_ORDERED;
  if (!cinfo.quantize_colors) cinfo.desired_number_of_colors = 216;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != (cmyk ? 4 : 3)) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  const uint32_t W = cinfo.output_width, H = cinfo.output_height;
  const uint32_t pitch = (uint32_t)tqPaddedPitch(W, 3);
  if (!reserve(pitch * H)) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  setGeometry((int)W, (int)H, 3, (int)pitch);
  canvasWidth_ = (int)W;
  canvasHeight_ = (int)H;
  sized = true;
  const size_t rowBytes = cmyk ? (size_t)W * 4 : pitch;
  row = static_cast<uint8_t*>(PrivateAlloc(0, rowBytes));
  if (!row) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  memset(row, 0, rowBytes);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row};
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    uint8_t* out = pixels_ + (size_t)rowsDone * pitch;
    if (cmyk) {
      CmykRowToRgb(row, out, W);
      memset(out + (size_t)W * 3, 0, pitch - (size_t)W * 3);
    } else {
      memcpy(out, row, pitch);
    }
    rowsDone = rowsDone + 1;
  }
  for (uint32_t y = rowsDone; y < H; ++y) memset(pixels_ + (size_t)y * pitch, 0, pitch);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  PrivateFree(row);
  return 1;
}

int tqImageJpeg::save(tqMemBlock& destination, int, int, int, int) {
  if ((bytesPerPixel_ != 3 && bytesPerPixel_ != 4) || width_ <= 0 || height_ <= 0 || !pixels_) return 0;
  uint64_t capacity = (uint64_t)pitch_ * height_;
  if (capacity < 8192) capacity = 8192;
  if (capacity > 0xFFFFFFFFu) return 0;
  jpeg_compress_struct cinfo;
  ErrorManager errors;
  Destination* volatile dest = static_cast<Destination*>(PrivateAlloc(0, sizeof(Destination)));
  if (!dest) return 0;
  dest->out = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)capacity));
  dest->capacity = (uint32_t)capacity;
  dest->used = 0;
  if (!dest->out) {
    PrivateFree(dest);
    return 0;
  }
  cinfo.err = &errors.pub;
  InstallErrors(errors);
  if (setjmp(errors.recovery)) {
    jpeg_destroy_compress(&cinfo);
    PrivateFree(dest->out);
    PrivateFree(dest);
    return 0;
  }
  jpeg_create_compress(&cinfo);
  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyOutput;
  dest->pub.term_destination = TermDestination;
  cinfo.dest = &dest->pub;
  cinfo.image_width = (JDIMENSION)width_;
  cinfo.image_height = (JDIMENSION)height_;
  cinfo.input_components = bytesPerPixel_;
  cinfo.in_color_space = bytesPerPixel_ == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {pixels_ + (size_t)cinfo.next_scanline * pitch_};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  destination.adopt(dest->out, dest->used, dest->capacity);
  PrivateFree(dest);
  return 1;
}
