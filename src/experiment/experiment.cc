// Reads 80-column experiment records and collects the histogram types of the HTYP records.
#include "experiment/experiment.h"

namespace trov {

// No line end is looked for inside the 80 bytes: docs/formats.md works out
// how a line of another length puts the next records out of step.
void read_exp_record(ExpRecord& record, InputFile& file) {
  const std::size_t n = file.read(record.data(), kExpRecordLength);
  if (n == kExpRecordLength) {
    unsigned char next = 0;
    if (file.read(&next, 1) == 0) {
      // At the end of the file: putting the last byte back clears the
      // end-of-file flag, so this record is examined and the next read
      // returns that byte alone and meets the end.
      file.put_back(static_cast<unsigned char>(record[kExpRecordLength - 1]));
    } else if (next == '\r') {
      file.skip_byte();
    } else if (next != '\n') {
      file.put_back(next);  // it begins the next record
    }
  }
  record[n] = '\0';
}

namespace {

bool is_htyp_record(const ExpRecord& record) {
  return std::string_view(record.data(), kHtypKey.size()) == kHtypKey;
}

HistogramType type_field(const ExpRecord& record, std::size_t field) {
  HistogramType type;
  const char* start = record.data() + kFirstTypeColumn + field * kTypeFieldSpacing;
  for (std::size_t i = 0; i < kTypeFieldLength && start[i] != '\0'; ++i) type.code[i] = start[i];
  return type;
}

}  // namespace

HistogramTable scan_histogram_types(InputFile& file) {
  HistogramTable table;
  bool complete = false;
  ExpRecord record;
  read_exp_record(record, file);
  // A record whose read came up short is never examined, so every record
  // examined holds all 80 characters.
  while (!file.at_end() && !complete && table.count < kMaxHistograms) {
    if (is_htyp_record(record)) {
      for (std::size_t field = 0; field < kTypeFieldsPerRecord; ++field) {
        HistogramType type = type_field(record, field);
        if (type.code[0] == ' ') {
          complete = true;
        } else if (table.count < kMaxHistograms) {
          table.entries[static_cast<std::size_t>(table.count++)] = type;
        }
      }
    }
    read_exp_record(record, file);
  }
  return table;
}

}  // namespace trov
