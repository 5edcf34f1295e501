// Fuzzes the experiment reader against an oracle: any bytes, and the record rules applied to them directly.
#include <cstring>

#include "gsas/experiment.h"
#include "testing/fuzz_support.h"

namespace {

using trov::HistogramTable;

// The oracle, kept independent of the reader on purpose: the record rules
// applied to the byte array, with seeks and the end-of-file condition modelled
// as a file stream keeps them. The reader, which goes through stdio and puts
// bytes back instead of seeking, must build the same table.
class ModelFile {
 public:
  ModelFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t read(std::uint8_t* out, std::size_t n) {
    std::size_t k = position_ < size_ ? std::min(n, size_ - position_) : 0;
    if (k > 0) std::memcpy(out, data_ + position_, k);
    position_ += k;
    if (k < n) at_end_ = true;
    return k;
  }
  void seek(long offset) {
    position_ = static_cast<std::size_t>(static_cast<long>(position_) + offset);
    at_end_ = false;
  }
  bool at_end() const { return at_end_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool at_end_ = false;
};

std::size_t model_record(ModelFile& file, std::uint8_t* record) {
  std::size_t n = file.read(record, trov::kExpRecordLength);
  if (n == trov::kExpRecordLength) {
    std::uint8_t c = 0;
    if (file.read(&c, 1) == 0 || (c != '\r' && c != '\n')) file.seek(-1);
    else if (c == '\r') file.seek(1);
  }
  return n;
}

HistogramTable model_table(const std::uint8_t* data, std::size_t size) {
  ModelFile file(data, size);
  HistogramTable table;
  std::uint8_t record[trov::kExpRecordLength] = {};
  bool complete = false;
  model_record(file, record);
  while (!file.at_end() && !complete && table.count < trov::kMaxHistograms) {
    if (std::string_view(reinterpret_cast<const char*>(record), trov::kHtypKey.size()) == trov::kHtypKey) {
      for (std::size_t f = 0; f < trov::kTypeFieldsPerRecord; ++f) {
        const std::uint8_t* field = record + trov::kFirstTypeColumn + f * trov::kTypeFieldSpacing;
        if (field[0] == ' ') {
          complete = true;
          continue;
        }
        if (table.count == trov::kMaxHistograms) continue;
        auto& code = table.entries[static_cast<std::size_t>(table.count++)].code;
        for (std::size_t i = 0; i < trov::kTypeFieldLength && field[i] != 0; ++i) code[i] = static_cast<char>(field[i]);
      }
    }
    model_record(file, record);
  }
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  trov::InputFile file(trov::memory_source({reinterpret_cast<const char*>(data), size}), "fuzz.exp");
  const HistogramTable table = trov::read_experiment(file, trov::ExperimentRecords::kTypes).types;
  const HistogramTable model = model_table(data, size);
  if (table.count != model.count) trov::testing::finding("table count differs from the model");
  for (int i = 0; i < table.count; ++i) {
    const auto& entry = table.entries[static_cast<std::size_t>(i)].code;
    if (entry != model.entries[static_cast<std::size_t>(i)].code) trov::testing::finding("entry differs from the model");
    if (entry[0] == ' ' || entry[4] != '\0') trov::testing::finding("blank or unterminated entry stored");
  }
  return 0;
}
