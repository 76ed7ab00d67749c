// Shared pieces of the console tests: a fresh current directory and shared state for each test,
// dialog hooks that record what the console shows and answer as told, a free port, and a small
// client installation with its list files and Config.ini.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <boost/asio/ip/tcp.hpp>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/uConsoleDialogs.h"
#include "support/LibraryWriter.h"
#include "settings/TarnShare.h"
#include "support/TempDir.h"
#include "support/SharedStateTest.h"

struct TShownBox {
  QWidget* Owner;
  QString Text;
  QString Caption;
  QMessageBox::Icon Icon;
  QMessageBox::StandardButtons Buttons;
};

struct TAskedInput {
  QString Caption;
  QString Prompt;
  QString Initial;
};

// A port nothing listens on at the moment.
inline uint16_t FreePort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  return acceptor.local_endpoint().port();
}

// The client installation the tests serve, below <dir>/client:
//   Data/ok.jpk (password "pw-ok"), Data/bad.jpk (password "right", listed with "wrong"),
//   Data/gone.jpk (listed, missing), Data/hum.wzl (+ .wzx), Map/0.map, Wav/1.wav.
struct TClientInstall {
  std::string Root;
  std::string Ok, Bad, Gone, Wzl, Map, Wav;
};

class TConsoleTestBed {
 public:
  TConsoleTestBed() {
    ResetSharedState();
    auto& hooks = ConsoleDialogs();
    hooks.MessageBox = [this](QWidget* owner, const QString& text, const QString& caption, QMessageBox::Icon icon,
                              QMessageBox::StandardButtons buttons) {
      Boxes.push_back({owner, text, caption, icon, buttons});
      return Answer;
    };
    hooks.InputQuery = [this](QWidget*, const QString& caption, const QString& prompt, QString& value) {
      Inputs.push_back({caption, prompt, value});
      if (Typed.empty()) return false;
      const std::optional<QString> typed = Typed.front();
      Typed.pop_front();
      if (!typed) return false;
      value = *typed;
      return true;
    };
    hooks.SelectDirectory = [this](QWidget*, const QString& prompt, QString& directory) {
      Pickers.push_back({QString(), prompt, directory});
      if (!Picked) return false;
      directory = *Picked;
      return true;
    };
  }

  ~TConsoleTestBed() {
    ResetConsoleDialogs();
    ResetSharedState();
  }

  // Writes the installation, its four list files and a Config.ini naming `port` and the
  // installation as the client directory.
  TClientInstall WriteClient(uint16_t port) {
    TClientInstall c;
    c.Root = Dir.PathOf("client");
    for (const char* sub : {"/Data", "/Data/sub", "/Map", "/Wav"})
      std::filesystem::create_directories(c.Root + sub);
    c.Ok = c.Root + "/Data/ok.jpk";
    c.Bad = c.Root + "/Data/bad.jpk";
    c.Gone = c.Root + "/Data/gone.jpk";
    c.Wzl = c.Root + "/Data/hum.wzl";
    c.Map = c.Root + "/Map/0.map";
    c.Wav = c.Root + "/Wav/1.wav";
    WriteJpk(c.Ok, "pw-ok");
    WriteJpk(c.Bad, "right");
    TLibDesc wzl;
    wzl.Images = {UnpackedImage(8, 4, 8, 1), UnpackedImage(4, 4, 5, 2)};
    WriteWzlLibrary(c.Wzl, WzlLibraryBytes(wzl));
    Dir.WriteFile("client/Map/0.map", PatternBytes(3000, 3));
    Dir.WriteFile("client/Wav/1.wav", PatternBytes(500, 4));
    Dir.WriteFile("client/Data/sub/deep.wzl", "not listed by a scan");

    Dir.WriteFile("JpkList.txt", c.Ok + "|pw-ok\r\n" + c.Bad + "|wrong\r\n" + c.Gone + "|pw\r\n");
    Dir.WriteFile("WzlList.txt", c.Wzl + "\r\n");
    Dir.WriteFile("MapList.txt", c.Map + "\r\n");
    Dir.WriteFile("WavList.txt", c.Wav + "\r\n");
    WriteConfig(port, c.Root);
    return c;
  }

  void WriteConfig(uint16_t port, const std::string& searchDir) {
    Dir.WriteFile("Config.ini", "[Setup]\r\nPort=" + std::to_string(port) + "\r\nSearchDir=" + searchDir + "\r\n");
  }

  static void WriteJpk(const std::string& path, const std::string& password) {
    TLibDesc desc;
    desc.Images = {PackedImage(4, 4, 40, 7), PackedImage(2, 2, 12, 8)};
    const std::string bytes = JpkLibraryBytes(desc, TJpkVersion::V2, password).Bytes;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  TempDir Dir;
  std::vector<TShownBox> Boxes;
  QMessageBox::StandardButton Answer = QMessageBox::Ok;
  std::vector<TAskedInput> Inputs;
  std::deque<std::optional<QString>> Typed;  // answers to input boxes; nothing for Cancel
  std::vector<TAskedInput> Pickers;
  std::optional<QString> Picked;  // the folder picker's answer; nothing for Cancel
};

// Runs `body` on the modal window the next step opens, once its event loop runs, and closes the
// window afterwards unless `body` did.
inline void WhenModal(std::function<void(QWidget*)> body) {
  QTimer::singleShot(0, [body] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    body(modal);
    if (modal->isVisible()) modal->close();
  });
}
