#include "DataObject/TLabelList.h"

#include <utility>

#include "KQmessage/Assert.h"

namespace kartlo {

TLabel::TLabel(std::string labelText, double labelValue)
    : value(labelValue), text(std::move(labelText)) {}

TLabelList::TLabelList(const char* text, double value) {
  KARTLO_ASSERT(text != nullptr);
  labels.emplace_back(text, value);
  numLabels = 1;
}

TLabelList& TLabelList::operator=(const TLabelList& other) {
  if (this != &other) {
    std::vector<TLabel> copy(other.labels);
    labels = std::move(copy);
    numLabels = static_cast<int>(labels.size());
  }
  return *this;
}

TLabelList::TLabelList(TLabelList&& other) noexcept
    : numLabels(other.numLabels), labels(std::move(other.labels)) {
  other.labels.clear();
  other.numLabels = 0;
}

TLabelList& TLabelList::operator=(TLabelList&& other) noexcept {
  if (this != &other) {
    labels = std::move(other.labels);
    numLabels = static_cast<int>(labels.size());
    other.labels.clear();
    other.numLabels = 0;
  }
  return *this;
}

void TLabelList::Add(const char* text, double value) {
  KARTLO_ASSERT(text != nullptr);
  for (TLabel& label : labels) {
    if (label.text == text) {
      label.value += value;
      return;
    }
  }
  labels.emplace_back(text, value);
  numLabels = static_cast<int>(labels.size());
}

void TLabelList::Clear() {
  labels.clear();
  numLabels = 0;
}

}  // namespace kartlo
