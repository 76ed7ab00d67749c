// The string hash table and the indexed string list that hold a version-2 JPK library's entry
// digests, driven by arbitrary operation sequences and compared with plain vector models.
// Input: byte 0 sets the table size (0 to 15 buckets, so chains are long); then operations, each
// an operation byte followed by its arguments (a key is a length byte, at most 15, and its bytes).
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "platform/AsciiText.h"
#include "formats/HashList.h"

namespace {

using fuzz::Check;

class TInput {
 public:
  TInput(const uint8_t* data, size_t size) : in_(reinterpret_cast<const char*>(data), size) {}
  bool Empty() const { return in_.empty(); }
  uint8_t Byte() {
    if (in_.empty()) return 0;
    const uint8_t b = static_cast<uint8_t>(in_[0]);
    in_.remove_prefix(1);
    return b;
  }
  std::string Key() {
    const size_t n = std::min<size_t>(Byte() % 16, in_.size());
    std::string k(in_.substr(0, n));
    in_.remove_prefix(n);
    return k;
  }

 private:
  std::string_view in_;
};

// Items in order; a look-up finds the last item with the key.
template <typename Same>
int LastIndex(const std::vector<std::pair<std::string, int64_t>>& items, std::string_view key, Same same) {
  for (size_t i = items.size(); i-- > 0;) {
    if (same(items[i].first, key)) return static_cast<int>(i);
  }
  return -1;
}

void ListStep(THStringList2& list, std::vector<std::pair<std::string, int64_t>>& model, uint8_t op, TInput& in) {
  const auto same = [&](const std::string& a, std::string_view b) {
    return list.CaseSensitive() ? a == b : SameTextAscii(a, b);
  };
  switch (op % 5) {
    case 0: {
      std::string key = in.Key();
      const int64_t object = in.Byte();
      Check(list.AddObject(key, object) == static_cast<int>(model.size()));
      model.emplace_back(std::move(key), object);
      break;
    }
    case 1: {
      const std::string key = in.Key();
      Check(list.IndexOf(key) == LastIndex(model, key, same));
      break;
    }
    case 2: {
      const int at = static_cast<int>(in.Byte()) - 1;  // -1 and the end are refused
      list.Delete(at);
      if (at >= 0 && at < static_cast<int>(model.size())) model.erase(model.begin() + at);
      break;
    }
    case 3:
      list.SetCaseSensitive(in.Byte() & 1);
      break;
    default:
      list.Clear();
      model.clear();
  }
  Check(list.Count() == static_cast<int>(model.size()));
  for (int i = 0; i < list.Count(); ++i) {
    Check(list.Strings(i) == model[static_cast<size_t>(i)].first);
    Check(list.Objects(i) == model[static_cast<size_t>(i)].second);
  }
}

void HashStep(TStringHash& hash, std::vector<std::pair<std::string, int64_t>>& model, uint8_t op, TInput& in) {
  const auto same = [](const std::string& a, std::string_view b) { return a == b; };
  const std::string key = in.Key();
  const int found = LastIndex(model, key, same);
  switch (op % 4) {
    case 0: {
      const int32_t value = in.Byte();
      hash.Add(key, value);
      model.emplace_back(key, value);
      break;
    }
    case 1:
      hash.Remove(key);
      if (found >= 0) model.erase(model.begin() + found);
      break;
    case 2: {
      const int32_t value = in.Byte();
      Check(hash.Modify(key, value) == (found >= 0));
      if (found >= 0) model[static_cast<size_t>(found)].second = value;
      break;
    }
    default:
      hash.Clear();
      model.clear();
  }
  const int now = LastIndex(model, key, same);
  Check(hash.ValueOf(key) == (now < 0 ? -1 : model[static_cast<size_t>(now)].second));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  TStringHash hash(in.Byte() % 16);
  THStringList2 list;
  std::vector<std::pair<std::string, int64_t>> hashModel, listModel;
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    if (op & 0x80) HashStep(hash, hashModel, op, in);
    else ListStep(list, listModel, op, in);
  }
  return 0;
}
