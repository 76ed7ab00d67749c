// A demo client installation, for trying the server out, for the end-to-end tests and for the load
// benchmark: WZL libraries with their index files, JPK libraries of both index versions, maps in
// sub-folders and wav files, with the settings file and the four list files that serve them.
// The same bytes on every run. Free functions without shared state; one folder per call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/WIL.h"

struct TDemoLibrary {
  std::string Path;      // absolute
  std::string Key;       // catalogue key as a client asks for it: "\data\hum.wzl"
  std::string PassWord;  // JPK libraries only
  TImageMode Mode = TImageMode::Tarn2Wil;
  int32_t ImageCount = 0;
};

struct TDemoFile {
  std::string Path;  // absolute
  std::string Key;   // "\map\mir\0.map"
};

struct TDemoData {
  std::string Folder;     // absolute; Config.ini and the list files
  std::string ClientDir;  // Folder + "/client", the configured SearchDir
  std::string WClientPass;
  uint16_t Port = 0;
  std::vector<TDemoLibrary> Libraries;
  std::vector<TDemoFile> Maps;
  std::vector<TDemoFile> Wavs;
};

// Writes FOLDER/client/{Data,Map/<sub>,Wav}/..., FOLDER/Config.ini (SearchDir, Port, WClientPass)
// and FOLDER/{JpkList,WzlList,MapList,WavList}.txt naming every resource by its absolute path.
// Creates FOLDER when missing; replaces files of the same names. Throws EInOutError.
TDemoData WriteDemoData(const std::string& Folder, uint16_t Port);

// A large installation for the long-tail benchmark: `Libraries` libraries (WZL and JPK in turn) of
// `ImagesPerLibrary` distinct images each, with the settings file and list files; no maps or wavs.
TDemoData WriteLongTailData(const std::string& Folder, uint16_t Port, int Libraries, int ImagesPerLibrary);

// The bytes of a demo map of width × height cells and of a demo wav of `samples` samples of a
// tone of `hz`, each the same for the same seed.
std::string MapBytes(int width, int height, uint32_t seed);
std::string WavBytes(int samples, double hz, uint32_t seed);
