// Reads 80-column experiment records and collects the histogram types of the HTYP records.
#include "experiment/experiment.h"

#include <string_view>

namespace trov {

void read_exp_record(ExpRecord& record, Stream& stream) {
  std::size_t n = stream.read(record.data(), kExpRecordLength);
  if (n == kExpRecordLength) {
    // Look at the byte after the record: LF is the line end; CR is the first
    // half of CR LF, so the byte after it is skipped unseen, whatever it is;
    // any other byte belongs to the next record and is put back. At the end
    // of the file the position moves back over the record's last byte, which
    // clears the end-of-file condition: a final record without a line end
    // still counts as read whole, and the next read returns that byte alone.
    unsigned char next = 0;
    if (stream.read(&next, 1) == 0) {
      stream.step_back(static_cast<unsigned char>(record[kExpRecordLength - 1]));
    } else if (next == '\r') {
      stream.step_forward();
    } else if (next != '\n') {
      stream.step_back(next);
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

HistogramTable scan_histogram_types(Stream& stream) {
  HistogramTable table;
  bool complete = false;
  ExpRecord record;
  read_exp_record(record, stream);
  // A record whose read ran into the end of the file is never examined, so
  // every record examined below holds all 80 characters.
  while (!stream.at_end() && !complete && table.count < kMaxHistograms) {
    if (is_htyp_record(record)) {
      // All twelve fields are looked at: a non-blank field after a blank one
      // in the same record is still taken; the blank only stops the scan
      // before the next record.
      for (std::size_t field = 0; field < kTypeFieldsPerRecord; ++field) {
        HistogramType type = type_field(record, field);
        if (type.code[0] == ' ') {
          complete = true;
        } else if (table.count < kMaxHistograms) {
          table.entries[static_cast<std::size_t>(table.count++)] = type;
        }
      }
    }
    read_exp_record(record, stream);
  }
  return table;
}

}  // namespace trov
