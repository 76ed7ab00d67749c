// A chained string hash table (TStringHash) and an ordered string list indexed by it
// (THStringList2), used by the JPK reader for its entry digests. Not synchronised: the owner
// serialises all use. Both own their items.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct THashItem {
  std::unique_ptr<THashItem> Next;
  std::string Key;
  int32_t Value = 0;
};

class TStringHash {
 public:
  explicit TStringHash(uint32_t Size = 256);
  virtual ~TStringHash();
  TStringHash(const TStringHash&) = delete;
  TStringHash& operator=(const TStringHash&) = delete;

  // Puts the pair at the head of its chain without looking for an equal key, so the later of
  // two equal keys is found first.
  void Add(std::string Key, int32_t Value);
  // The link pointing at the first item with that key (exact comparison), or at the empty link
  // that ends its chain. Valid until the table is next changed.
  std::unique_ptr<THashItem>* Find(std::string_view Key);
  int32_t ValueOf(std::string_view Key);  // -1 when absent
  bool Modify(std::string_view Key, int32_t Value);
  void Remove(std::string_view Key);
  void Clear();
  uint32_t Size() const { return static_cast<uint32_t>(Buckets.size()); }
  // Over the UTF-16 code units of the key: h = (h << 7) ^ unit, then the sign bit cleared.
  virtual uint32_t HashOf(std::string_view Key) const;

 protected:
  std::vector<std::unique_ptr<THashItem>> Buckets;
};

// Items in insertion order, each with an attached value, and a hash from an item's key (its text,
// A-Z folded unless case-sensitive) to its position. Duplicates are accepted; IndexOf finds the
// last one added.
class THStringList2 {
 public:
  THStringList2() = default;
  THStringList2(const THStringList2&) = delete;
  THStringList2& operator=(const THStringList2&) = delete;

  int AddObject(std::string s, int64_t AObject);
  int IndexOf(std::string_view s);  // -1 when absent
  // Removes the item and rebuilds the hash, so every later item's position stays right.
  void Delete(int Index);
  void Clear();

  int Count() const { return static_cast<int>(FItems.size()); }
  const std::string& Strings(int Index) const { return FItems.at(static_cast<size_t>(Index)).Text; }
  int64_t Objects(int Index) const { return FItems.at(static_cast<size_t>(Index)).Object; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool value);

 private:
  struct TItem {
    std::string Text;
    int64_t Object;
  };
  std::string KeyOf(std::string_view s) const;
  TStringHash& ValueHash();
  void RebuildHash();

  std::vector<TItem> FItems;
  std::unique_ptr<TStringHash> FValueHash;  // created on first use
  bool FCaseSensitive = false;
};
