#include "search_worker.h"

#include <algorithm>
#include <utility>

#include "caught_text.h"
#include "file_stream.h"
#include "opened_data.h"
#include "search_window.h"

namespace marlix {

namespace {

// Lines go to the window in batches of about this many, and at least once a
// block of the file, so that the first ones show at once.
constexpr std::size_t kBatchLines = 512;

int Seek(std::FILE* file, std::uint64_t offset, int whence) {
#ifdef _WIN32
  return ::_fseeki64(file, static_cast<long long>(offset), whence);
#else
  return ::fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

std::uint64_t Position(std::FILE* file) {
#ifdef _WIN32
  return static_cast<std::uint64_t>(::_ftelli64(file));
#else
  return static_cast<std::uint64_t>(::ftello(file));
#endif
}

}  // namespace

SearchWorker::SearchWorker(SearchJob job, std::function<void()> wake) : wake_(std::move(wake)) {
  thread_ = std::thread([this, job = std::move(job)] {
    // Nothing may cross the thread's start: a search that throws ends as failed, saying why.
    try {
      Run(job);
    } catch (...) {
      std::vector<FoundLine> none;
      SearchEnd failed;
      failed.failure = CaughtText();
      Tell(none, failed);
    }
  });
}

SearchWorker::~SearchWorker() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

void SearchWorker::Run(const SearchJob& job) {
  const Cp949View term1 = job.term1.view(), term2 = job.term2.view();
  // Mapped for this search only: the file is let go as soon as it ends, so
  // that a new data set can take its place. post.csv beside it gives the
  // English names and 행정동 a name search may need, and the sign that lets a
  // code search look its code up.
  OpenedData data(job.data_file, NeedsNames(job.rule, term1) ? NamesRead::kBeside : NamesRead::kNone);
  MappedFile& file = data.file();
  if (file.open_error() != 0) {
    std::vector<FoundLine> none;
    Tell(none, SearchEnd{true, 0, 0, {}});
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    file_size_ = file.size();
  }

  std::size_t matches = 0;
  std::vector<FoundLine> batch;
  // Lines past the cut are only counted.
  auto add = [&](std::string_view line, LineOffset offset) -> bool {
    if (matches++ < kMostListed) {
      batch.push_back({Cp949String(std::string(WithoutHalfCharacterAtEnd(line))), offset, line.size()});
      if (batch.size() >= kBatchLines) Tell(batch, std::nullopt);
    }
    return !cancel_;
  };
  auto between_blocks = [&]() -> bool {
    if (!batch.empty()) Tell(batch, std::nullopt);
    return !cancel_;
  };
  const BlockHook hook(between_blocks);
  if (!job.finds_nothing) SearchFile(file, data.Request(job.rule, term1, term2), add, &hook);
  if (cancel_) return;  // nobody waits for it
  Tell(batch, SearchEnd{false, matches, file.size(), {}});
}

void SearchWorker::Tell(std::vector<FoundLine>& lines, const std::optional<SearchEnd>& end) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (FoundLine& line : lines) lines_.push_back(std::move(line));
    if (end) end_ = end;
    wake = !std::exchange(wake_pending_, true);
  }
  lines.clear();
  if (wake && wake_) wake_();
}

SearchWorker::News SearchWorker::Take(std::size_t most) {
  News news;
  std::lock_guard<std::mutex> lock(mutex_);
  news.file_size = file_size_;
  const std::size_t count = std::min(most, lines_.size());
  news.lines.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    news.lines.push_back(std::move(lines_.front()));
    lines_.pop_front();
  }
  if (lines_.empty()) {
    news.end = std::exchange(end_, std::nullopt);
    wake_pending_ = false;
  }
  return news;
}

bool SearchWorker::HasMore() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !lines_.empty();
}

std::optional<Cp949String> ReadFoundLine(const std::string& data_file, std::uint64_t searched_size, LineOffset offset,
                                         std::size_t length) {
  const FileStream file = OpenFileStream(data_file, "rb");
  if (!file || Seek(file.get(), 0, SEEK_END) != 0 || Position(file.get()) != searched_size) return std::nullopt;
  std::string bytes(length, '\0');
  if (Seek(file.get(), offset, SEEK_SET) != 0 || std::fread(bytes.data(), 1, length, file.get()) != length) {
    return std::nullopt;
  }
  return Cp949String(std::move(bytes));
}

}  // namespace marlix
