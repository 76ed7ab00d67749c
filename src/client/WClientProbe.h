// The game client's side of the resource protocol, for the client tool, the end-to-end tests and
// the load benchmark: request targets made from the micro-client password and a resource's name,
// fetching over HTTP with the deflate content coding, checks of every kind of answer against its
// layout, and the check of a whole deployment from its folder.
// Free functions are safe from any thread; a TWClientConnection serves one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// ---- Request targets ----

// The token of a plain text "dir|file|image" (code page 936 bytes), as a game client makes it.
std::string WClientToken(const std::string& sWClientPass, const std::string& plain);
// "/wclientdat/<token>/<nType>.html" for the plain text dir|file|image (image may be empty).
std::string WClientTarget(const std::string& sWClientPass, int nType, const std::string& sDir,
                          const std::string& sLib, const std::string& sImage);
// Splits a catalogue key "\map\mir\0.map" into "map\mir" and "0.map"; false when the key has no
// directory part, so that no request can name it.
bool SplitCatalogueKey(const std::string& key, std::string& sDir, std::string& sLib);
// The type code a client uses for a resource: 1 for library entries, 3 maps, 4 wavs.
constexpr int kTypeImage = 1;
constexpr int kTypeMap = 3;
constexpr int kTypeWav = 4;

// ---- Fetching ----

struct TWClientAnswer {
  unsigned Status = 0;
  bool Deflated = false;  // the body came with Content-Encoding: deflate
  size_t WireBytes = 0;   // body bytes as sent
  std::string Body;       // with the content coding removed
  std::string Error;      // why no whole answer arrived; empty when one did
};
// What an answer other than 200 means, in words: a refusal's error code and its cause, or the status.
std::string RefusalText(const TWClientAnswer& answer);

// A keep-alive connection to the server of an address "http://host:port[/...]".
class TWClientConnection {
 public:
  // Throws std::invalid_argument for an address it cannot read. Connects on the first Get.
  explicit TWClientConnection(const std::string& url);
  ~TWClientConnection();
  TWClientConnection(const TWClientConnection&) = delete;
  TWClientConnection& operator=(const TWClientConnection&) = delete;

  // GET `target`, asking for the deflate coding unless `deflate` is false. A connection the
  // server has closed is opened again once.
  TWClientAnswer Get(const std::string& target, bool deflate = true);
  // The path of the address, "/wclientdat/" when it has none: where request targets begin.
  const std::string& Prefix() const { return FPrefix; }

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  std::string FPrefix;
};

// ---- Checks of answers: empty when the body is what it must be, else what is wrong ----

struct TImageSummary {
  int32_t nType = 0;
  int32_t nSize = 0;
  int16_t nWidth = 0;
  int16_t nHeight = 0;
  uint32_t Crc = 0;
  std::string Form;  // "full", "empty" or "absent"
};
// An image answer: the 64-byte record and exactly nSize bytes whose CRC-32 the record carries
// (0xFFFFFFFF or 0 when it carries no bytes), of library kind `nType` when that is not 0.
std::string CheckImagePayload(const std::string& body, int32_t nIndex, int32_t nType, TImageSummary* out);

struct THeaderSummary {
  int32_t nType = 0;       // 1 WZL, 3 JPK, 4 JPK with version-2 index
  int32_t nVer = 0;
  int32_t ImageCount = 0;  // images a client may ask for
  size_t IndexBytes = 0;
  std::string IndexHash;   // JPK: MD5 text of the raw index, as the index table lists it
  std::vector<int32_t> Positions;  // where the index places each image in the library file
};
// Whether the index places image `nIndex` in the file, so that it must not come back absent.
bool IndexStoresImage(const THeaderSummary& header, int32_t nIndex);
std::string CheckHeaderPayload(const std::string& body, THeaderSummary* out);
// A map or wav answer: a non-empty zlib stream; `inflated` receives the file.
std::string CheckStreamPayload(const std::string& body, std::string* inflated);
// The index table: a zlib stream of "key|hash" CR LF lines with 32 lower-case hex digits each.
std::string CheckIndexTable(const std::string& body, std::vector<std::pair<std::string, std::string>>* rows);

// ---- Whole deployments ----

// One resource of a deployment as a client asks for it.
struct TWClientResource {
  std::string Key;     // catalogue key, code page 936: "\data\hum.wzl"
  std::string Path;    // the listed file (UTF-8)
  int nType = 0;       // kTypeImage, kTypeMap or kTypeWav
  bool Jpk = false;
};
struct TDeployment {
  std::string Folder;
  bool HasSettings = false;  // FOLDER/Config.ini exists
  std::string WClientPass;   // code page 936
  uint16_t Port = 0;
  std::vector<TWClientResource> Resources;  // JPK and WZL libraries, maps, wavs, in list order
};
// Reads FOLDER/Config.ini and the four list files with the server's own readers, leaving the
// current directory and the process-wide settings alone. Throws EInOutError when the folder or a
// file that exists cannot be read.
TDeployment ReadDeployment(const std::string& folder);
// `count` indices spread over [0, imageCount): all of them when there are no more.
std::vector<int32_t> SampleIndices(int32_t imageCount, int count);
// Request targets for every library header, `samples` images of each library, every map and
// every wav; the library headers are read from the server to know the image counts.
std::vector<std::string> DeploymentTargets(TWClientConnection& conn, const TDeployment& deployment, int samples);
// Asks the server for the index table, every library header and `samples` images of each, every
// map and wav (compared with the file on disk when it can be read), and writes one verdict line
// per item to `out`. A folder without a settings file, a listed file that is missing, an empty
// answer and an image answered absent where the index places bytes are failures.
// Returns the number of failed items.
int CheckDeployment(TWClientConnection& conn, const TDeployment& deployment, int samples,
                    const std::function<void(const std::string&)>& out);
