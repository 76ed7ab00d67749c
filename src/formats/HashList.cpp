#include "formats/HashList.h"

#include <utility>

#include "platform/AsciiText.h"
#include "platform/CodePage.h"

TStringHash::TStringHash(uint32_t Size) : Buckets(Size == 0 ? 1 : Size) {}

TStringHash::~TStringHash() { Clear(); }

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

void TStringHash::Add(std::string Key, int32_t Value) {
  auto& head = Buckets[HashOf(Key) % Buckets.size()];
  auto item = std::make_unique<THashItem>();
  item->Key = std::move(Key);
  item->Value = Value;
  item->Next = std::move(head);
  head = std::move(item);
}

std::unique_ptr<THashItem>* TStringHash::Find(std::string_view Key) {
  std::unique_ptr<THashItem>* link = &Buckets[HashOf(Key) % Buckets.size()];
  while (*link && (*link)->Key != Key) link = &(*link)->Next;
  return link;
}

int32_t TStringHash::ValueOf(std::string_view Key) {
  const auto& item = *Find(Key);
  return item ? item->Value : -1;
}

bool TStringHash::Modify(std::string_view Key, int32_t Value) {
  auto& item = *Find(Key);
  if (!item) return false;
  item->Value = Value;
  return true;
}

void TStringHash::Remove(std::string_view Key) {
  auto& link = *Find(Key);
  if (link) link = std::move(link->Next);
}

void TStringHash::Clear() {
  // Unlinks item by item: a long chain freed recursively could exhaust the stack.
  for (auto& head : Buckets) {
    while (head) head = std::move(head->Next);
  }
}

std::string THStringList2::KeyOf(std::string_view s) const {
  return FCaseSensitive ? std::string(s) : UpperCaseAscii(s);
}

TStringHash& THStringList2::ValueHash() {
  if (!FValueHash) FValueHash = std::make_unique<TStringHash>(256);
  return *FValueHash;
}

int THStringList2::AddObject(std::string s, int64_t AObject) {
  std::string key = KeyOf(s);
  FItems.push_back({std::move(s), AObject});
  const int position = Count() - 1;
  ValueHash().Add(std::move(key), position);
  return position;
}

int THStringList2::IndexOf(std::string_view s) { return ValueHash().ValueOf(KeyOf(s)); }

void THStringList2::Delete(int Index) {
  if (Index < 0 || Index >= Count()) return;
  FItems.erase(FItems.begin() + Index);
  RebuildHash();
}

void THStringList2::Clear() {
  if (FValueHash) FValueHash->Clear();
  FItems.clear();
}

void THStringList2::SetCaseSensitive(bool value) {
  if (value == FCaseSensitive) return;
  FCaseSensitive = value;
  RebuildHash();
}

void THStringList2::RebuildHash() {
  TStringHash& hash = ValueHash();
  hash.Clear();
  for (int i = 0; i < Count(); ++i) hash.Add(KeyOf(FItems[static_cast<size_t>(i)].Text), i);
}
