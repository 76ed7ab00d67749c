#include "support/DemoData.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "support/LibraryWriter.h"
#include "formats/ZStream.h"
#include "platform/AsciiText.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"
#include "support/FixtureBytes.h"

namespace {

// The demo's sequence of a seed.
class TDemoRandom : public TXorShift32 {
 public:
  explicit TDemoRandom(uint32_t seed) : TXorShift32(seed * 2654435761u + 0x6D2B79F5u) {}
};

// Rows of a sprite the way game art looks to a compressor: a shaded ellipse with an outline on a
// transparent (0) background, rows padded to 4 bytes.
std::string SpriteRows(int width, int height, int bytesPerPixel, uint32_t seed) {
  TDemoRandom rnd(seed);
  const size_t stride = static_cast<size_t>(WidthBytes(8 * bytesPerPixel, width));
  std::string rows(stride * static_cast<size_t>(height), '\0');
  const int base = rnd.Range(16, 200);
  const double cx = width / 2.0, cy = height / 2.0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x + 0.5 - cx) / cx, dy = (y + 0.5 - cy) / cy;
      const double r = dx * dx + dy * dy;
      if (r > 1.0) continue;
      uint32_t colour = r > 0.8 ? 8u : static_cast<uint32_t>(base + ((x / 3 + y / 5) % 6) + (rnd.Next() % 8 == 0 ? 1 : 0));
      if (bytesPerPixel == 2) colour = (colour << 8) | (colour >> 1) | 0x0421u;
      PutLE(rows, static_cast<size_t>(y) * stride + static_cast<size_t>(x * bytesPerPixel), colour, bytesPerPixel);
    }
  }
  return rows;
}

enum class TEntryKind { Full, Absent, Empty };

TEntryKind KindOf(int i) {
  if (i % 23 == 11) return TEntryKind::Absent;
  if (i % 31 == 17) return TEntryKind::Empty;
  return TEntryKind::Full;
}

void PickSize(TDemoRandom& rnd, int i, int16_t& w, int16_t& h) {
  const bool large = i % 17 == 5;
  w = static_cast<int16_t>(large ? rnd.Range(200, 320) : rnd.Range(8, 128));
  h = static_cast<int16_t>(large ? rnd.Range(150, 240) : rnd.Range(8, 128));
}

// `count` entries of varied sizes, a few of them absent or empty; `fill` sets the format's fields
// of one entry and stores the sprite rows it is given (none for an empty entry).
template <typename Fill>
TLibDesc LibraryDesc(int count, uint32_t seed, Fill fill) {
  TDemoRandom rnd(seed);
  TLibDesc desc;
  for (int i = 0; i < count; ++i) {
    const TEntryKind kind = KindOf(i);
    if (kind == TEntryKind::Absent) {
      desc.Images.push_back(ImageAt(0));
      continue;
    }
    TLibImage image;
    PickSize(rnd, i, image.Width, image.Height);
    const uint32_t rowsSeed = seed * 1000 + static_cast<uint32_t>(i);
    fill(image, i, kind == TEntryKind::Empty, [&](int bytesPerPixel) {
      return SpriteRows(image.Width, image.Height, bytesPerPixel, rowsSeed);
    });
    desc.Images.push_back(std::move(image));
  }
  return desc;
}

// A WZL library: 8 or 16 bits per pixel (bitMode 5), every third entry packed with zlib.
TLibDesc WzlDesc(int count, uint8_t bitMode, uint32_t seed) {
  return LibraryDesc(count, seed, [bitMode](TLibImage& image, int i, bool empty, auto rows) {
    image.BitMode = bitMode;
    image.Px = static_cast<int16_t>(-image.Width / 2);
    image.Py = static_cast<int16_t>(-image.Height);
    if (empty) {
      image.Width = 0;
      return;
    }
    image.Packed = i % 3 == 0;
    image.Data = image.Packed ? ZlibCompress(rows(bitMode == 5 ? 2 : 1), 6) : rows(bitMode == 5 ? 2 : 1);
  });
}

// A JPK library: entries zlib-packed (Zip 1) or plain rows, some with an alpha flag.
TLibDesc JpkDesc(int count, uint32_t seed) {
  return LibraryDesc(count, seed, [](TLibImage& image, int i, bool empty, auto rows) {
    image.BitMode = i % 4 == 1 ? 16 : 8;
    image.Px = static_cast<int16_t>(-image.Width / 2);
    image.Py = static_cast<int16_t>(-image.Height / 2);
    image.Alpha = i % 5 == 0;
    if (empty) {
      image.Height = 0;
      return;
    }
    image.Zip = i % 2 == 0 ? 1 : 0;
    image.Data = image.Zip ? ZlibCompress(rows(image.BitMode / 8), 6) : rows(image.BitMode / 8);
  });
}


std::string KeyOf(const std::string& relative) {
  std::string key = "\\" + LowerCaseAscii(relative);
  std::replace(key.begin(), key.end(), '/', '\\');
  return key;
}


TDemoData NewDemo(const std::string& Folder, uint16_t Port) {
  TDemoData demo;
  demo.Folder = std::filesystem::absolute(Folder).lexically_normal().string();
  while (demo.Folder.size() > 1 && demo.Folder.back() == '/') demo.Folder.pop_back();
  demo.ClientDir = demo.Folder + "/client";
  demo.WClientPass = "418K7_p2593";
  demo.Port = Port;
  return demo;
}

void WriteSettingsAndLists(const TDemoData& demo) {
  TIniFile ini(demo.Folder + "/Config.ini");
  ini.WriteString("Setup", "Title", "演示微端");
  ini.WriteString("Setup", "Port", std::to_string(demo.Port));
  ini.WriteString("Setup", "SearchDir", demo.ClientDir);
  ini.WriteString("Setup", "WClientDir", "Resources");
  ini.WriteString("Setup", "WClientPass", demo.WClientPass);
  ini.UpdateFile();

  std::vector<std::string> jpk = {"; JPK libraries: path|password"}, wzl, maps, wavs;
  for (const TDemoLibrary& lib : demo.Libraries) {
    if (lib.Mode == TImageMode::Tarn2Wzl) wzl.push_back(lib.Path);
    else jpk.push_back(lib.Path + "|" + lib.PassWord);
  }
  for (const TDemoFile& m : demo.Maps) maps.push_back(m.Path);
  for (const TDemoFile& w : demo.Wavs) wavs.push_back(w.Path);
  WriteTextLines(demo.Folder + "/JpkList.txt", jpk);
  WriteTextLines(demo.Folder + "/WzlList.txt", wzl);
  WriteTextLines(demo.Folder + "/MapList.txt", maps);
  WriteTextLines(demo.Folder + "/WavList.txt", wavs);
}

}  // namespace

// A map: a 52-byte head (width, height, title, date) and 12 bytes per cell, column by column:
// back, middle and front tiles, door, animation and light bytes. Large plains of the same tile,
// as real maps have.
std::string MapBytes(int width, int height, uint32_t seed) {
  TDemoRandom rnd(seed);
  std::string map(52 + 12 * static_cast<size_t>(width) * static_cast<size_t>(height), '\0');
  PutLE(map, 0, static_cast<uint16_t>(width), 2);
  PutLE(map, 2, static_cast<uint16_t>(height), 2);
  std::string("Nuvo demo map").copy(map.data() + 4, 13);
  size_t at = 52;
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y, at += 12) {
      const bool wall = (x / 8 + y / 6) % 7 == 0;
      PutLE(map, at, (x % 2 == 0 && y % 2 == 0) ? static_cast<uint32_t>(100 + (x / 16) * 4 + (y / 16) % 4) : 0u, 2);
      PutLE(map, at + 2, wall ? static_cast<uint32_t>(400 + rnd.Range(0, 3)) : 0u, 2);
      PutLE(map, at + 4, wall ? 0x8000u | static_cast<uint32_t>(900 + (x + y) % 5) : 0u, 2);
      map[at + 9] = static_cast<char>(wall && rnd.Range(0, 9) == 0 ? 0x84 : 0);
      map[at + 11] = static_cast<char>((x * 31 + y * 17) % 97 == 0 ? 4 : 0);
    }
  }
  return map;
}

// A mono 16-bit 22050 Hz PCM wav: a few decaying tones with a little noise.
std::string WavBytes(int samples, double hz, uint32_t seed) {
  TDemoRandom rnd(seed);
  const uint32_t dataBytes = static_cast<uint32_t>(samples) * 2;
  std::string wav(44 + dataBytes, '\0');
  std::string("RIFF").copy(wav.data(), 4);
  PutLE(wav, 4, 36 + dataBytes, 4);
  std::string("WAVEfmt ").copy(wav.data() + 8, 8);
  PutLE(wav, 16, 16, 4);
  PutLE(wav, 20, 1, 2);          // PCM
  PutLE(wav, 22, 1, 2);          // mono
  PutLE(wav, 24, 22050, 4);
  PutLE(wav, 28, 22050 * 2, 4);  // bytes per second
  PutLE(wav, 32, 2, 2);
  PutLE(wav, 34, 16, 2);
  std::string("data").copy(wav.data() + 36, 4);
  PutLE(wav, 40, dataBytes, 4);
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < samples; ++i) {
    const double t = i / 22050.0;
    const double envelope = std::exp(-3.0 * std::fmod(t, 0.5));
    const double v = envelope * (0.5 * std::sin(2 * pi * hz * t) + 0.2 * std::sin(2 * pi * hz * 1.5 * t)) +
                     (static_cast<int>(rnd.Next() % 200) - 100) / 20000.0;
    PutLE(wav, 44 + 2 * static_cast<size_t>(i), static_cast<uint16_t>(static_cast<int16_t>(v * 20000)), 2);
  }
  return wav;
}

TDemoData WriteDemoData(const std::string& Folder, uint16_t Port) {
  TDemoData demo = NewDemo(Folder, Port);
  for (const char* sub : {"/Data", "/Map/Mir", "/Map/Dungeon", "/Map/Town", "/Wav"}) {
    if (!ForceDirectories(demo.ClientDir + sub)) throw EInOutError("Unable to create " + demo.ClientDir + sub);
  }

  struct TWzl {
    const char* name;
    int count;
    uint8_t bitMode;
  };
  for (const TWzl& w : {TWzl{"Data/Hum.wzl", 96, 5}, TWzl{"Data/Weapon.wzl", 64, 8}, TWzl{"Data/Prguse.wzl", 40, 8}}) {
    const TLibDesc desc = WzlDesc(w.count, w.bitMode, static_cast<uint32_t>(demo.Libraries.size() + 1));
    const std::string path = demo.ClientDir + "/" + w.name;
    WriteWzlLibrary(path, WzlLibraryBytes(desc));
    demo.Libraries.push_back({path, KeyOf(w.name), "", TImageMode::Tarn2Wzl, w.count});
  }
  struct TJpk {
    const char* name;
    int count;
    TJpkVersion version;
    const char* password;
  };
  for (const TJpk& j : {TJpk{"Data/Items.jpk", 72, TJpkVersion::V2, "items2024"},
                        TJpk{"Data/Effect.jpk", 48, TJpkVersion::V1, "fx_v1pass"},
                        TJpk{"Data/Magic.jpk", 40, TJpkVersion::V2, "magic#7"}}) {
    const TLibDesc desc = JpkDesc(j.count, static_cast<uint32_t>(demo.Libraries.size() + 1));
    const std::string path = demo.ClientDir + "/" + j.name;
    WriteFileAtomic(path, JpkLibraryBytes(desc, j.version, j.password).Bytes);
    demo.Libraries.push_back({path, KeyOf(j.name), j.password,
                              j.version == TJpkVersion::V2 ? TImageMode::Tarn2Jpkv2 : TImageMode::Tarn2Jpk, j.count});
  }

  struct TMap {
    const char* name;
    int width, height;
  };
  for (const TMap& m : {TMap{"Map/Mir/0.map", 100, 80}, TMap{"Map/Mir/1.map", 60, 40},
                        TMap{"Map/Dungeon/D401.map", 150, 120}, TMap{"Map/Town/3.map", 40, 40},
                        TMap{"Map/Empty.map", 0, 0}}) {
    const std::string path = demo.ClientDir + "/" + m.name;
    WriteFileAtomic(path, m.width == 0 ? std::string() : MapBytes(m.width, m.height, static_cast<uint32_t>(m.width)));
    demo.Maps.push_back({path, KeyOf(m.name)});
  }
  struct TWav {
    const char* name;
    int samples;
    double hz;
  };
  for (const TWav& w : {TWav{"Wav/Hit.wav", 6000, 660}, TWav{"Wav/Walk.wav", 4000, 220},
                        TWav{"Wav/Click.wav", 800, 1200}, TWav{"Wav/Bgm01.wav", 110250, 330}}) {
    const std::string path = demo.ClientDir + "/" + w.name;
    WriteFileAtomic(path, WavBytes(w.samples, w.hz, static_cast<uint32_t>(w.samples)));
    demo.Wavs.push_back({path, KeyOf(w.name)});
  }

  WriteSettingsAndLists(demo);
  return demo;
}

TDemoData WriteLongTailData(const std::string& Folder, uint16_t Port, int Libraries, int ImagesPerLibrary) {
  TDemoData demo = NewDemo(Folder, Port);
  if (!ForceDirectories(demo.ClientDir + "/Data")) throw EInOutError("Unable to create " + demo.ClientDir + "/Data");
  // Alternating kinds, so both readers and both JPK index versions take a share of the reads.
  for (int i = 0; i < Libraries; ++i) {
    const uint32_t seed = 100 + static_cast<uint32_t>(i);
    const std::string name = "Data/Tail" + std::to_string(i) + (i % 2 == 0 ? ".wzl" : ".jpk");
    const std::string path = demo.ClientDir + "/" + name;
    if (i % 2 == 0) {
      WriteWzlLibrary(path, WzlLibraryBytes(WzlDesc(ImagesPerLibrary, i % 4 == 0 ? 5 : 8, seed)));
      demo.Libraries.push_back({path, KeyOf(name), "", TImageMode::Tarn2Wzl, ImagesPerLibrary});
    } else {
      const std::string password = "tail" + std::to_string(i);
      const TJpkVersion version = i % 4 == 1 ? TJpkVersion::V2 : TJpkVersion::V1;
      WriteFileAtomic(path, JpkLibraryBytes(JpkDesc(ImagesPerLibrary, seed), version, password).Bytes);
      demo.Libraries.push_back({path, KeyOf(name), password,
                                version == TJpkVersion::V2 ? TImageMode::Tarn2Jpkv2 : TImageMode::Tarn2Jpk,
                                ImagesPerLibrary});
    }
  }
  WriteSettingsAndLists(demo);
  return demo;
}

