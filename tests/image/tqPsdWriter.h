// Test-only PSD writer: RGB and greyscale documents of 8 or 16 bits per
// channel, ordinary or large (version 2), with the merged picture raw or
// run-length coded, and layer records with their channel data, Pascal and
// Unicode names, group markers and any extra blocks. It also tells where the
// length fields it wrote lie, so tests can break them one at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace psdtest {

using Bytes = std::vector<uint8_t>;

inline void PutBe16(Bytes& b, uint16_t v) {
  b.push_back((uint8_t)(v >> 8));
  b.push_back((uint8_t)v);
}
inline void PutBe32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back((uint8_t)(v >> s));
}
inline void SetBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (24 - 8 * i));
}
inline void SetBe16(Bytes& b, size_t at, uint16_t v) {
  b[at] = (uint8_t)(v >> 8);
  b[at + 1] = (uint8_t)v;
}
inline uint32_t GetBe32(const Bytes& b, size_t at) {
  return (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3];
}

// PackBits of one row: runs of 3 or more equal bytes become repeats (header
// 257 - n), everything else literal groups (header n - 1), at most 128 bytes
// per packet.
inline Bytes PackBits(const uint8_t* p, size_t n) {
  Bytes out;
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run >= 3) {
      out.push_back((uint8_t)(257 - run));
      out.push_back(p[i]);
      i += run;
      continue;
    }
    size_t start = i, len = 0;
    while (i < n && len < 128) {
      if (i + 2 < n && p[i] == p[i + 1] && p[i] == p[i + 2]) break;
      ++i;
      ++len;
    }
    out.push_back((uint8_t)(len - 1));
    out.insert(out.end(), p + start, p + start + len);
  }
  return out;
}

// A channel's rows run-length coded: the table of row lengths, then the rows.
inline void PutRunLengthRows(Bytes& out, const Bytes& plane, size_t width, size_t height) {
  std::vector<Bytes> rows;
  for (size_t y = 0; y < height; ++y) rows.push_back(PackBits(plane.data() + y * width, width));
  for (const Bytes& r : rows) PutBe16(out, (uint16_t)r.size());
  for (const Bytes& r : rows) out.insert(out.end(), r.begin(), r.end());
}

struct Channel {
  int16_t id = 0;       // 0 red, 1 green, 2 blue, -1 transparency, -2 mask
  Bytes data;           // rows of the rectangle (the mask's own for -2)
  uint16_t compression = 0;  // 0 raw, 1 run length; others are written as raw
  uint32_t rows = 0, columns = 0;  // for run length; 0 means the layer's
};

// An additional information block: "8BIM", key, length, data.
struct Block {
  std::string key;  // 4 characters
  Bytes data;
  std::string signature = "8BIM";
};

struct Layer {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<Channel> channels;
  std::string blend = "norm";
  std::string name;          // Pascal name bytes
  bool unicode = false;      // write a "luni" block with unicodeName
  std::u16string unicodeName;
  int sectionType = -1;      // "lsct" type; -1 writes none
  std::vector<Block> blocks; // written before luni and lsct
  std::vector<Block> after;  // written after lsct
  bool padName = true;       // pad the name to a multiple of 4 bytes
};

struct Document {
  uint32_t width = 1, height = 1;
  std::vector<Bytes> planes;  // merged channels in file order, width x height samples each
  uint16_t depth = 8;         // 16: samples of 2 bytes, big-endian
  uint16_t mode = 3;          // 3 RGB, 1 greyscale
  bool large = false;         // version 2: 8-byte section length, 4-byte row lengths
  uint16_t compression = 0;   // merged picture: 0 raw, 1 run length
  std::vector<Layer> layers;
  bool negativeCount = false;
  bool withLayerInfo = true;  // false writes an empty layer and mask section
};

// Offsets of the fields written, for tests that break them.
struct LayerLayout {
  size_t record = 0;
  std::vector<size_t> channelLength;  // 32-bit length in the channel list
  size_t blendKey = 0;
  size_t extraLength = 0;
  size_t maskLength = 0, rangesLength = 0, nameLength = 0;
  std::vector<size_t> blockLength;  // every block in file order
  size_t luniCount = 0, lsctType = 0;
  std::vector<size_t> channelData;  // compression code of each channel
};
struct Layout {
  size_t layerSectionLength = 0, layerInfoLength = 0, layerCount = 0;
  std::vector<LayerLayout> layers;
  size_t mergedCompression = 0, mergedData = 0;
};

inline Bytes Header(uint32_t width, uint32_t height, uint16_t channels, uint16_t depth = 8, uint16_t mode = 3,
                    bool large = false) {
  Bytes b = {'8', 'B', 'P', 'S', 0, (uint8_t)(large ? 2 : 1), 0, 0, 0, 0, 0, 0};
  PutBe16(b, channels);
  PutBe32(b, height);
  PutBe32(b, width);
  PutBe16(b, depth);
  PutBe16(b, mode);
  return b;
}

inline void PutBlock(Bytes& b, const std::string& signature, const std::string& key, const Bytes& data,
                     LayerLayout& l) {
  b.insert(b.end(), signature.begin(), signature.end());
  b.insert(b.end(), key.begin(), key.end());
  l.blockLength.push_back(b.size());
  PutBe32(b, (uint32_t)data.size());
  b.insert(b.end(), data.begin(), data.end());
}

inline Bytes Write(const Document& doc, Layout* layoutOut = nullptr) {
  Layout layout;
  Bytes b = Header(doc.width, doc.height, (uint16_t)doc.planes.size(), doc.depth, doc.mode, doc.large);
  PutBe32(b, 0);  // colour mode data
  PutBe32(b, 0);  // image resources
  if (doc.large) PutBe32(b, 0);  // high half of the section length
  layout.layerSectionLength = b.size();
  PutBe32(b, 0);  // patched below
  if (doc.withLayerInfo) {
    layout.layerInfoLength = b.size();
    PutBe32(b, 0);
    layout.layerCount = b.size();
    int16_t count = (int16_t)doc.layers.size();
    PutBe16(b, (uint16_t)(doc.negativeCount ? -count : count));
    std::vector<Bytes> channelBytes;  // per layer, all channels
    for (const Layer& layer : doc.layers) {
      LayerLayout l;
      l.record = b.size();
      PutBe32(b, (uint32_t)layer.top);
      PutBe32(b, (uint32_t)layer.left);
      PutBe32(b, (uint32_t)layer.bottom);
      PutBe32(b, (uint32_t)layer.right);
      PutBe16(b, (uint16_t)layer.channels.size());
      Bytes data;
      std::vector<size_t> dataAt;
      for (const Channel& c : layer.channels) {
        dataAt.push_back(data.size());
        size_t start = data.size();
        PutBe16(data, c.compression);
        if (c.compression == 1) {
          size_t w = c.columns ? c.columns : (size_t)(layer.right - layer.left);
          size_t h = c.rows ? c.rows : (size_t)(layer.bottom - layer.top);
          PutRunLengthRows(data, c.data, w, h);
        } else {
          data.insert(data.end(), c.data.begin(), c.data.end());
        }
        PutBe16(b, (uint16_t)c.id);
        l.channelLength.push_back(b.size());
        PutBe32(b, (uint32_t)(data.size() - start));
      }
      b.insert(b.end(), {'8', 'B', 'I', 'M'});
      l.blendKey = b.size();
      b.insert(b.end(), layer.blend.begin(), layer.blend.end());
      b.insert(b.end(), {255, 0, 0, 0});  // opacity, clipping, flags, filler
      l.extraLength = b.size();
      PutBe32(b, 0);
      size_t extraStart = b.size();
      l.maskLength = b.size();
      PutBe32(b, 0);
      l.rangesLength = b.size();
      PutBe32(b, 0);
      l.nameLength = b.size();
      b.push_back((uint8_t)layer.name.size());
      b.insert(b.end(), layer.name.begin(), layer.name.end());
      if (layer.padName)
        while ((b.size() - l.nameLength) % 4) b.push_back(0);
      for (const Block& k : layer.blocks) PutBlock(b, k.signature, k.key, k.data, l);
      if (layer.unicode) {
        Bytes u;
        PutBe32(u, (uint32_t)layer.unicodeName.size());
        for (char16_t c : layer.unicodeName) PutBe16(u, (uint16_t)c);
        PutBlock(b, "8BIM", "luni", u, l);
        l.luniCount = l.blockLength.back() + 4;
      }
      if (layer.sectionType >= 0) {
        Bytes s;
        PutBe32(s, (uint32_t)layer.sectionType);
        PutBlock(b, "8BIM", "lsct", s, l);
        l.lsctType = l.blockLength.back() + 4;
      }
      for (const Block& k : layer.after) PutBlock(b, k.signature, k.key, k.data, l);
      SetBe32(b, l.extraLength, (uint32_t)(b.size() - extraStart));
      l.channelData = dataAt;  // relative until the data is placed
      layout.layers.push_back(l);
      channelBytes.push_back(data);
    }
    for (size_t i = 0; i < channelBytes.size(); ++i) {
      for (size_t& at : layout.layers[i].channelData) at += b.size();
      b.insert(b.end(), channelBytes[i].begin(), channelBytes[i].end());
    }
    SetBe32(b, layout.layerInfoLength, (uint32_t)(b.size() - layout.layerInfoLength - 4));
    PutBe32(b, 0);  // global layer mask info
  }
  SetBe32(b, layout.layerSectionLength, (uint32_t)(b.size() - layout.layerSectionLength - 4));

  layout.mergedCompression = b.size();
  PutBe16(b, doc.compression);
  layout.mergedData = b.size();
  if (doc.compression == 1) {
    std::vector<Bytes> rows;
    const size_t rowBytes = (size_t)doc.width * doc.depth / 8;
    for (const Bytes& plane : doc.planes)
      for (size_t y = 0; y < doc.height; ++y) rows.push_back(PackBits(plane.data() + y * rowBytes, rowBytes));
    for (const Bytes& r : rows) {
      if (doc.large)
        PutBe32(b, (uint32_t)r.size());
      else
        PutBe16(b, (uint16_t)r.size());
    }
    layout.mergedData = b.size();
    for (const Bytes& r : rows) b.insert(b.end(), r.begin(), r.end());
  } else {
    for (const Bytes& plane : doc.planes) b.insert(b.end(), plane.begin(), plane.end());
  }
  if (layoutOut) *layoutOut = layout;
  return b;
}

}  // namespace psdtest
