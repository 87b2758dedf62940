// tqimage commands. Pictures are loaded through the holder's format tests;
// conversions write what the library would paint: top row first, the bytes
// of each pixel taken as blue, green, red (and alpha).
#include "tools/tqimage/tqImageTool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file/tqFile.h"
#include "image/tqImageBmp.h"
#include "image/tqImageHg2.h"
#include "image/tqImageHg3.h"
#include "image/tqImageHolder.h"
#include "image/tqImageJpeg.h"
#include "image/tqImagePng.h"
#include "image/tqImageTqf.h"
#include "image/tqImageWebP.h"
#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  tqimage info FILE [--id N | --index N]\n"
    "  tqimage convert IN OUT [--id N | --index N]   (OUT: .png .jpg .jpeg .webp .bmp .hg2 .hg3 .tqf)\n"
    "  tqimage raw IN OUT [--id N | --index N]       (the decoded pixel rows, unpadded)\n";

FILE* g_err = stderr;

// A command-line path in the library's form.
bool PathArg(const char* arg, std::string& out) {
#ifdef _WIN32
  out = arg;
#else
  if (!tqp::NarrowFromUtf8(arg, out)) return false;
#endif
  std::replace(out.begin(), out.end(), '/', '\\');
  return true;
}

int Fail(const std::string& message) {
  fprintf(g_err, "tqimage: %s\n", message.c_str());
  return 1;
}

// The whole file in a private-heap buffer.
struct FileBytes {
  uint8_t* data = nullptr;
  uint32_t size = 0;
  ~FileBytes() {
    if (data) PrivateFree(data);
  }
};

bool ReadWhole(const std::string& path, FileBytes& bytes) {
  tqFile file;
  if (!file.Open(path.c_str(), TQFILE_READ | TQFILE_EXISTING)) return false;
  int size = file.GetSize();
  if (size < 0) return false;
  bytes.data = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)size + 1));
  if (!bytes.data) return false;
  bytes.size = (uint32_t)size;
  return size == 0 || file.Read(bytes.data, (uint32_t)size) == size;
}

bool WriteWhole(const std::string& path, const uint8_t* data, uint32_t size) {
  tqFile file;
  if (!file.Open(path.c_str(), TQFILE_WRITE | TQFILE_CREATE)) return false;
  return size == 0 || file.Write(data, size) == (int)size;
}

struct Loaded {
  tqImage* image = nullptr;
  int type = TQIMAGE_NONE;
  int id = 0;
  bool byIndex = false;
  ~Loaded() {
    if (image) image->release();
  }
};

// Options after the positional arguments: --id N or --index N.
bool Options(int argc, const char* const* argv, int first, Loaded& how) {
  for (int i = first; i < argc; ++i) {
    std::string option = argv[i];
    if ((option == "--id" || option == "--index") && i + 1 < argc) {
      char* end = nullptr;
      long value = strtol(argv[++i], &end, 0);
      if (!*argv[i] || *end) return false;
      how.id = (int)value;
      how.byIndex = option == "--index";
    } else {
      return false;
    }
  }
  return true;
}

int Load(const char* arg, Loaded& loaded) {
  std::string path;
  if (!PathArg(arg, path)) return Fail(std::string(arg) + ": the name has no Shift_JIS form");
  FileBytes bytes;
  if (!ReadWhole(path, bytes)) return Fail(std::string(arg) + ": cannot read the file");
  tqMemBlock block(bytes.data, bytes.size);
  loaded.type = tqImageHolder::formatOf(block);
  if (loaded.type == TQIMAGE_NONE) return Fail(std::string(arg) + ": not a picture format the library reads");
  loaded.image = tqImageHolder::createFormat(loaded.type);
  if (!loaded.image) return Fail("out of memory");
  int ok;
  if (loaded.byIndex) {
    if (loaded.type != TQIMAGE_HG2 && loaded.type != TQIMAGE_HG3)
      return Fail("--index needs an HG-2 or HG-3 file");
    int index = loaded.id;
    ok = loaded.image->loadByIndex(block, index, &loaded.id);
  } else {
    ok = loaded.image->load(block, loaded.id);
  }
  if (!ok) return Fail(std::string(arg) + ": the " + tqImageHolder::formatName(loaded.type) + " picture does not decode");
  return 0;
}

int Info(const Loaded& l, FILE* out) {
  const tqImage& im = *l.image;
  int cw, ch, x, y;
  im.canvasSize(&cw, &ch);
  im.offset(&x, &y);
  fprintf(out, "format: %s\n", tqImageHolder::formatName(l.type));
  fprintf(out, "width: %d\nheight: %d\nbytesPerPixel: %d\npitch: %d\n", im.width(), im.height(), im.bytesPerPixel(),
          im.pitch());
  fprintf(out, "canvasWidth: %d\ncanvasHeight: %d\noffsetX: %d\noffsetY: %d\n", cw, ch, x, y);
  fprintf(out, "alphaState: %d\nuserValue1: %d\nuserValue2: %d\ncptype: %d\nimgmode: %d\n", im.alphaState(),
          im.userValue1(), im.userValue2(), im.cptype(), im.imgmode());
  if (l.byIndex) fprintf(out, "id: %d\n", l.id);
  return 0;
}

int Raw(const Loaded& l, const char* arg) {
  std::string path;
  if (!PathArg(arg, path)) return Fail(std::string(arg) + ": the name has no Shift_JIS form");
  const tqImage& im = *l.image;
  const uint64_t rowBytes = (uint64_t)im.width() * im.bytesPerPixel();
  const uint64_t total = rowBytes * (uint64_t)im.height();
  if (total > 0xFFFFFFF0u) return Fail("picture too large");
  uint8_t* rows = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)total + 1));
  if (!rows) return Fail("out of memory");
  for (int y = 0; y < im.height(); ++y)
    memcpy(rows + (size_t)y * rowBytes, im.pixels() + (size_t)y * im.pitch(), (size_t)rowBytes);
  bool ok = WriteWhole(path, rows, (uint32_t)total);
  PrivateFree(rows);
  return ok ? 0 : Fail(std::string(arg) + ": cannot write the file");
}

std::string LowerExtension(const std::string& path) {
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = (char)tolower((unsigned char)c);
  return ext;
}

void SwapRedBlue(tqImage& im) {
  for (int y = 0; y < im.height(); ++y) {
    uint8_t* p = im.pixels() + (size_t)y * im.pitch();
    for (int x = 0; x < im.width(); ++x, p += im.bytesPerPixel()) std::swap(p[0], p[2]);
  }
}

int Convert(const Loaded& l, const char* arg) {
  std::string path;
  if (!PathArg(arg, path)) return Fail(std::string(arg) + ": the name has no Shift_JIS form");
  const std::string ext = LowerExtension(path);
  tqImage* writer = nullptr;
  if (ext == "png") writer = new tqImagePng;
  else if (ext == "jpg" || ext == "jpeg") writer = new tqImageJpeg;
  else if (ext == "webp") writer = new tqImageWebP;
  else if (ext == "bmp") writer = new tqImageBmp;
  else if (ext == "hg2") writer = new tqImageHg2;
  else if (ext == "hg3") writer = new tqImageHg3;
  else if (ext == "tqf") writer = new tqImageTqf;
  else return Fail(std::string(arg) + ": unknown output type (use .png .jpg .jpeg .webp .bmp .hg2 .hg3 .tqf)");
  struct Release {
    tqImage* p;
    ~Release() { p->release(); }
  } guard{writer};
  const tqImage& source = *l.image;
  if (source.bytesPerPixel() < 3)
    return Fail("pictures of " + std::to_string(source.bytesPerPixel()) + " bytes per pixel are not converted");
  // The painted view: rows top first (bitmaps and PSD files keep the bottom
  // row first), bytes as blue, green, red (, alpha).
  if (!writer->copyFrom(source)) return Fail("out of memory");
  if (l.type == TQIMAGE_BMP || l.type == TQIMAGE_PSD) writer->flipVertical();
  if (ext == "bmp") writer->flipVertical();  // a bitmap is stored bottom row first
  if (ext == "jpg" || ext == "jpeg") {
    if (writer->bytesPerPixel() == 4) writer->flattenOnto(0xFFFFFF);
    SwapRedBlue(*writer);  // the JPEG writer takes red first
  }
  if (ext == "webp") SwapRedBlue(*writer);  // so does the WebP writer
  tqMemBlock out;
  if (!writer->save(out, l.id, source.userValue1(), source.userValue2(), 0))
    return Fail(std::string(arg) + ": the picture cannot be encoded as " + ext);
  return WriteWhole(path, out.data, out.size) ? 0 : Fail(std::string(arg) + ": cannot write the file");
}

}  // namespace

int tqImageTool(int argc, const char* const* argv, FILE* out, FILE* err) {
  g_err = err;
  if (argc < 3) {
    fputs(kUsage, err);
    return 2;
  }
  const std::string command = argv[1];
  const int positional = command == "info" ? 1 : 2;
  Loaded loaded;
  if ((command != "info" && command != "convert" && command != "raw") || argc < 2 + positional ||
      !Options(argc, argv, 2 + positional, loaded)) {
    fputs(kUsage, err);
    return 2;
  }
  int status = Load(argv[2], loaded);
  if (status == 0) {
    if (command == "info")
      status = Info(loaded, out);
    else if (command == "raw")
      status = Raw(loaded, argv[3]);
    else
      status = Convert(loaded, argv[3]);
  }
  if (loaded.image) {
    loaded.image->release();
    loaded.image = nullptr;
  }
  return status;
}
