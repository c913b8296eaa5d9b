// The conversion of a pasted list on a thread of its own, so that the window
// answers its user throughout: the paste read as a table, its addresses
// converted in one pass over the data, each row's fields made. As the data
// update's worker does, it gathers its news in a NewsBox, whose `wake` only
// tells the owner there is news. Portable.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "address_batch.h"
#include "address_table.h"
#include "code_names.h"
#include "news_box.h"

namespace marlix {

// A converted list: the pasted rows and what each address came to.
struct ConvertedList {
  SearchStatus status = SearchStatus::kOk;
  int error = 0;               // errno of a data file that could not be read
  bool cancelled = false;      // stopped before its end: nothing else is set
  std::vector<TableRow> rows;  // as pasted (UTF-8), the header first when there is one
  AddressColumn column;
  std::vector<AddressResult> results;  // one per row after the header
  std::vector<TableRow> fields;        // each one's four fields, from its best candidate
  CodeNames names;                     // for the fields of a candidate picked later
  double seconds = 0;
};

class AddressListWorker {
 public:
  struct News {
    std::optional<double> done;         // the share done, 0 to 1
    std::optional<ConvertedList> list;  // once the conversion has ended
  };

  // Starts at once; `pasted` is the text as pasted (UTF-8), `data_path` the data file.
  AddressListWorker(std::string data_path, std::string pasted, std::function<void()> wake);
  // Stops the conversion and waits for its thread (some milliseconds).
  ~AddressListWorker();
  AddressListWorker(const AddressListWorker&) = delete;
  AddressListWorker& operator=(const AddressListWorker&) = delete;

  // The conversion stops at its next step and ends cancelled, whatever it
  // had done; returns at once.
  void Stop() { cancel_ = true; }
  News Take();

 private:
  void Tell(News change);

  std::atomic<bool> cancel_{false};
  NewsBox<News> news_;
  std::thread thread_;
};

}  // namespace marlix
