// A chained string hash table (TStringHash) and an ordered string list indexed by it
// (THStringList2), used by the JPK reader for its entry digests. Not synchronised: the owner
// serialises all use. Both keep their items and texts in pooled arrays: a library opens with
// thousands of entries, and an allocation per entry made the load pass pay for each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct THashItem {
  size_t KeyAt = 0;  // the key's bytes in the table's key text
  uint32_t KeyLength = 0;
  int32_t Next = -1;  // position of the next item in the chain, -1 at its end
  int32_t Value = 0;
};

class TStringHash {
 public:
  explicit TStringHash(uint32_t Size = 256);
  virtual ~TStringHash() = default;
  TStringHash(const TStringHash&) = delete;
  TStringHash& operator=(const TStringHash&) = delete;

  // Puts the pair at the head of its chain without looking for an equal key, so the later of
  // two equal keys is found first.
  void Add(std::string_view Key, int32_t Value);
  // The first item with that key (exact comparison), or nullptr. Valid until the table is next
  // changed.
  THashItem* Find(std::string_view Key);
  int32_t ValueOf(std::string_view Key);  // -1 when absent
  bool Modify(std::string_view Key, int32_t Value);
  // Unlinks the item; its storage is given back by the next Clear.
  void Remove(std::string_view Key);
  void Clear();
  // Room for `Count` more items of `KeyBytes` key bytes in all, without growing on the way.
  void Reserve(size_t Count, size_t KeyBytes);
  uint32_t Size() const { return static_cast<uint32_t>(Buckets.size()); }
  // Over the UTF-16 code units of the key: h = (h << 7) ^ unit, then the sign bit cleared.
  virtual uint32_t HashOf(std::string_view Key) const;

 private:
  std::string_view KeyOf(const THashItem& item) const { return std::string_view(Keys).substr(item.KeyAt, item.KeyLength); }
  // The link that points at the first item with that key, or at the -1 that ends its chain.
  int32_t* LinkOf(std::string_view Key);

  std::vector<int32_t> Buckets;  // head item of each chain, -1 when empty
  std::vector<THashItem> Items;
  std::string Keys;
};

// Items in insertion order, each with an attached value, and a hash from an item's key (its text,
// A-Z folded unless case-sensitive) to its position. Duplicates are accepted; IndexOf finds the
// last one added.
class THStringList2 {
 public:
  THStringList2() = default;
  THStringList2(const THStringList2&) = delete;
  THStringList2& operator=(const THStringList2&) = delete;

  int AddObject(std::string_view s, int64_t AObject);
  int IndexOf(std::string_view s);  // -1 when absent
  // Removes the item and rebuilds the hash, so every later item's position stays right.
  void Delete(int Index);
  void Clear();
  // Room for `Count` more items of `TextBytes` text bytes in all.
  void Reserve(size_t Count, size_t TextBytes);

  int Count() const { return static_cast<int>(FItems.size()); }
  // Valid until the list is next changed.
  std::string_view Strings(int Index) const;
  int64_t Objects(int Index) const { return FItems.at(static_cast<size_t>(Index)).Object; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool value);

 private:
  struct TItem {
    size_t TextAt;
    size_t TextLength;
    int64_t Object;
  };
  // The hash key of `s` in a buffer reused from call to call.
  std::string_view KeyOf(std::string_view s);
  TStringHash& ValueHash();
  void RebuildHash();

  std::vector<TItem> FItems;
  std::string FTexts;  // every item's text, one after another
  std::string FKey;
  std::unique_ptr<TStringHash> FValueHash;  // created on first use
  bool FCaseSensitive = false;
};
