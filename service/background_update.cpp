#include "background_update.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "caught_text.h"
#include "text_format.h"
#include "update_texts.h"

namespace marlix {

DataUpdateWorker::DataUpdateWorker(ServiceAccess access, std::string agent, std::string folder,
                                   std::function<void()> wake)
    : news_(std::move(wake)) {
  thread_ = std::thread([this, access = std::move(access), agent = std::move(agent), folder = std::move(folder)] {
    DataUpdateEvents events;
    events.status = [this](const std::string& text) { Tell([&](News& news) { news.status = text; }); };
    events.local_failure = [this](const std::string& message) {
      Tell([&](News& news) { news.local_failures.push_back(message); });
    };
    events.progress = [this](std::uint64_t done, std::uint64_t total) {
      Tell([&](News& news) {
        news.progressed = true;
        news.done = done;
        news.total = total;
      });
    };
    DataUpdateOutcome outcome;
    // Nothing may cross the thread's start: an update that throws ends as failed, saying why.
    try {
      outcome = PrepareDataUpdate(access, agent.c_str(), folder, events, &cancel_);
    } catch (...) {
      outcome = DataUpdateOutcome{};
      outcome.result = DownloadResult::kLocalFileFailure;
      outcome.detail = CaughtText();
    }
    Tell([&](News& news) { news.outcome = std::move(outcome); });
  });
}

DataUpdateWorker::~DataUpdateWorker() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

DataUpdateWorker::News DataUpdateWorker::Take() {
  News news = news_.Take();
  if (news.outcome) {
    // The outcome is the thread's last word.
    if (thread_.joinable()) thread_.join();
    ended_ = true;
  }
  return news;
}

DataVersionWorker::DataVersionWorker(ServiceAccess access, std::function<void()> wake)
    : news_(std::make_shared<NewsBox<News>>(std::move(wake))) {
  // The thread keeps the shared news alive as long as it runs, its owner or not.
  std::thread([news_box = news_, access = std::move(access)] {
    auto tell = [&news_box](const std::function<void(News&)>& change) { news_box->Tell(change); };
    DataVersion version;
    // The server's edition, beside the version text; none from a service without a manifest.
    std::optional<Manifest> manifest;
    // Nothing may cross the thread's start: a fetch that throws ends as one that fetched nothing.
    try {
      version =
          FetchDataVersion(access, [&](const std::string& text) { tell([&](News& news) { news.status = text; }); });
      try {
        manifest = FetchManifest(*OpenServiceSession(access, kDataVersionAgent), access.base_url).manifest;
      } catch (const CInternetException&) {
      }
    } catch (...) {
      version = DataVersion{};
      manifest.reset();
    }
    tell([&](News& news) {
      news.version = std::move(version);
      news.manifest = std::move(manifest);
    });
  }).detach();
}

DataVersionWorker::~DataVersionWorker() { news_->Forget(); }

DataVersionWorker::News DataVersionWorker::Take() { return news_->Take(); }

void TransferPace::Note(std::uint64_t done, std::uint64_t total, std::uint64_t now_ms) {
  if (!first_done_) {
    first_done_ = done;
    first_ms_ = now_ms;
  }
  done_ = done;
  total_ = total;
  now_ms_ = now_ms;
}

int TransferPace::Permille() const {
  if (total_ == 0) return 0;
  return static_cast<int>(std::min(done_, total_) * 1000 / total_);
}

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
// The pace is believed once it has run this long.
constexpr std::uint64_t kPaceMinMs = 1000;

std::string Amount(std::uint64_t bytes, bool in_mb) {
  char text[32];
  if (in_mb) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kMiB);
  } else {
    std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>((bytes + 1023) / 1024));
  }
  return text;
}

std::string Duration(std::uint64_t seconds) {
  using std::to_string;
  if (seconds < 60) return FormatText(kTextSecondsFormat, to_string(seconds));
  if (seconds < 3600) return FormatText(kTextMinutesFormat, to_string(seconds / 60), to_string(seconds % 60));
  return FormatText(kTextHoursFormat, to_string(seconds / 3600), to_string(seconds % 3600 / 60));
}

}  // namespace

std::string EditionsText(const std::optional<Manifest>& local, const std::optional<Manifest>& server) {
  // The server's with its date: the line has room for one.
  const std::string here = local ? FormatText(kTextEditionFormat, std::to_string(local->edition)) : kTextNoEdition;
  const std::string there =
      server ? FormatText(kTextDatedEditionFormat, std::to_string(server->edition), server->published) : kTextNoEdition;
  return FormatText(kTextEditionsFormat, here, there);
}

std::string TransferPace::Text() const {
  const bool in_mb = total_ >= kMiB;
  std::string text = Amount(std::min(done_, total_), in_mb) + " / " + Amount(total_, in_mb) + " (" +
                     std::to_string(Permille() / 10) + "%)";
  if (!first_done_ || done_ >= total_) return text;
  const std::uint64_t ran_ms = now_ms_ - *first_ms_;
  const std::uint64_t moved = done_ - std::min(done_, *first_done_);
  if (ran_ms < kPaceMinMs || moved == 0) return text;
  // Rounded up: "0초" would be said of a transfer still running.
  const std::uint64_t left_ms = (total_ - done_) * ran_ms / moved;
  return text + kTextTimeLeftPrefix + Duration((left_ms + 999) / 1000);
}

}  // namespace marlix
