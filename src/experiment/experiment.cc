// Reads 80-column experiment records and collects the histogram types of the HTYP records.
#include "experiment/experiment.h"

#include <string_view>

namespace trov {

void read_exp_record(ExpRecord& record, Stream& stream) {
  std::size_t n = stream.read(record.data(), kExpRecordLength);
  if (n == kExpRecordLength) {
    // Look at the byte after the record: LF is the line end; CR is the first
    // half of CR LF, so its partner is skipped unseen; anything else, or the
    // end of the file, belongs to the next record and is put back. Putting it
    // back at the end of the file clears the end-of-file condition, so a final
    // record without a line end still counts as read whole.
    unsigned char next = 0;
    const bool have_next = stream.read(&next, 1) == 1;
    if (have_next && next == '\r') {
      stream.seek_relative(1);
    } else if (!have_next || next != '\n') {
      stream.seek_relative(-1);
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
