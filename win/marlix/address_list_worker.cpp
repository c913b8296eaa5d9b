#include "address_list_worker.h"

#include <cerrno>
#include <chrono>
#include <utility>

#include "opened_data.h"

namespace marlix {

namespace {

ConvertedList Convert(const std::string& data_path, const std::string& pasted, const std::atomic<bool>& cancel,
                      const std::function<void(double)>& progress) {
  const auto started = std::chrono::steady_clock::now();
  ConvertedList list;
  list.rows = ReadTable(pasted, SeparatorOf(pasted));
  list.column = FindAddressColumn(list.rows);
  const std::size_t first = list.column.header ? 1 : 0;
  const std::vector<Cp949String> addresses = AddressesOf(list.rows, first, list.column.column);
  OpenedData data(data_path, NamesRead::kForManyQuestions);
  list.names = data.names();
  BatchOutcome outcome = ConvertAddresses(data, addresses, [&](double done) {
    progress(done);
    return !cancel.load();
  });
  // A 취소 that came as the last step ended is still a 취소.
  list.cancelled = outcome.cancelled || cancel.load();
  list.status = outcome.status;
  list.error = outcome.error;
  if (list.cancelled || outcome.status != SearchStatus::kOk) return list;
  list.results = std::move(outcome.results);
  list.fields.reserve(list.results.size());
  for (const AddressResult& result : list.results) {
    if (cancel.load()) {
      list.cancelled = true;
      return list;
    }
    list.fields.push_back(ResultFields(result, list.names));
  }
  list.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return list;
}

}  // namespace

AddressListWorker::AddressListWorker(std::string data_path, std::string pasted, std::function<void()> wake)
    : news_(std::move(wake)) {
  thread_ = std::thread([this, data_path = std::move(data_path), pasted = std::move(pasted)] {
    News last;
    // Nothing may cross the thread's start: a conversion that throws ends as
    // one whose data could not be read.
    try {
      last.list = Convert(data_path, pasted, cancel_, [this](double done) {
        News news;
        news.done = done;
        Tell(std::move(news));
      });
    } catch (...) {
      last.list = ConvertedList{};
      last.list->status = SearchStatus::kReadFailed;
      last.list->error = EIO;
    }
    Tell(std::move(last));
  });
}

AddressListWorker::~AddressListWorker() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void AddressListWorker::Tell(News change) {
  news_.Tell([&change](News& news) {
    if (change.done) news.done = change.done;
    if (change.list) news.list = std::move(change.list);
  });
}

AddressListWorker::News AddressListWorker::Take() {
  News news = news_.Take();
  // The list is the thread's last word.
  if (news.list && thread_.joinable()) thread_.join();
  return news;
}

}  // namespace marlix
