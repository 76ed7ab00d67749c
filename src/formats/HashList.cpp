#include "formats/HashList.h"

#include <algorithm>

#include "platform/AsciiText.h"
#include "platform/CodePage.h"

TStringHash::TStringHash(uint32_t Size) : Buckets(Size == 0 ? 1 : Size, -1) {}

uint32_t TStringHash::HashOf(std::string_view Key) const {
  uint32_t h = 0;
  // An ASCII key is its own UTF-16 units: no conversion, no allocation (every index entry of a
  // library is hashed when it opens).
  if (IsAscii(Key)) {
    for (char c : Key) h = (h << 7) ^ static_cast<unsigned char>(c);
  } else {
    for (char16_t unit : Utf16FromUtf8(Key)) h = (h << 7) ^ unit;
  }
  return h & 0x7FFFFFFFu;
}

void TStringHash::Add(std::string_view Key, int32_t Value) {
  int32_t& head = Buckets[HashOf(Key) % Buckets.size()];
  Items.push_back({Keys.size(), static_cast<uint32_t>(Key.size()), head, Value});
  Keys.append(Key);
  head = static_cast<int32_t>(Items.size() - 1);
}

int32_t* TStringHash::LinkOf(std::string_view Key) {
  int32_t* link = &Buckets[HashOf(Key) % Buckets.size()];
  while (*link >= 0 && KeyOf(Items[static_cast<size_t>(*link)]) != Key) link = &Items[static_cast<size_t>(*link)].Next;
  return link;
}

THashItem* TStringHash::Find(std::string_view Key) {
  const int32_t at = *LinkOf(Key);
  return at < 0 ? nullptr : &Items[static_cast<size_t>(at)];
}

int32_t TStringHash::ValueOf(std::string_view Key) {
  const THashItem* item = Find(Key);
  return item ? item->Value : -1;
}

bool TStringHash::Modify(std::string_view Key, int32_t Value) {
  THashItem* item = Find(Key);
  if (!item) return false;
  item->Value = Value;
  return true;
}

void TStringHash::Remove(std::string_view Key) {
  int32_t* link = LinkOf(Key);
  if (*link >= 0) *link = Items[static_cast<size_t>(*link)].Next;
}

void TStringHash::Clear() {
  std::fill(Buckets.begin(), Buckets.end(), -1);
  Items.clear();
  Keys.clear();
}

void TStringHash::Reserve(size_t Count, size_t KeyBytes) {
  Items.reserve(Items.size() + Count);
  Keys.reserve(Keys.size() + KeyBytes);
}

std::string_view THStringList2::KeyOf(std::string_view s) {
  if (FCaseSensitive) return s;
  FKey.assign(s);
  for (char& c : FKey) c = UpperAsciiChar(c);
  return FKey;
}

TStringHash& THStringList2::ValueHash() {
  if (!FValueHash) FValueHash = std::make_unique<TStringHash>(256);
  return *FValueHash;
}

std::string_view THStringList2::Strings(int Index) const {
  const TItem& item = FItems.at(static_cast<size_t>(Index));
  return std::string_view(FTexts).substr(item.TextAt, item.TextLength);
}

int THStringList2::AddObject(std::string_view s, int64_t AObject) {
  FItems.push_back({FTexts.size(), s.size(), AObject});
  FTexts.append(s);
  // `s` may have viewed the texts just moved: the key is taken from the stored copy.
  const int position = Count() - 1;
  ValueHash().Add(KeyOf(Strings(position)), position);
  return position;
}

int THStringList2::IndexOf(std::string_view s) { return ValueHash().ValueOf(KeyOf(s)); }

void THStringList2::Delete(int Index) {
  if (Index < 0 || Index >= Count()) return;
  // The text stays in FTexts until Clear: deleting is rare and the bytes are few.
  FItems.erase(FItems.begin() + Index);
  RebuildHash();
}

void THStringList2::Clear() {
  if (FValueHash) FValueHash->Clear();
  FItems.clear();
  FTexts.clear();
}

void THStringList2::Reserve(size_t Count, size_t TextBytes) {
  FItems.reserve(FItems.size() + Count);
  FTexts.reserve(FTexts.size() + TextBytes);
  ValueHash().Reserve(Count, TextBytes);
}

void THStringList2::SetCaseSensitive(bool value) {
  if (value == FCaseSensitive) return;
  FCaseSensitive = value;
  RebuildHash();
}

void THStringList2::RebuildHash() {
  TStringHash& hash = ValueHash();
  hash.Clear();
  for (int i = 0; i < Count(); ++i) hash.Add(KeyOf(Strings(i)), i);
}
