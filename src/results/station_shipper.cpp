// The real clock, threads and files, and PostgreSQL through libpq.
#include "results/station_shipper.h"

#include "platform/storage/system_file_store.h"
#include "platform/thread/thread_service.h"
#include "results/link_warning.h"
#include "results/pg_sink.h"

namespace results {

struct StationShipper::Services {
  explicit Services(std::string target) : sink(PostgresConnector(std::move(target))) {}
  platform::SystemClock clock;
  std::unique_ptr<platform::ThreadService> threads = platform::MakeSystemThreadService();
  platform::SystemFileStore files;
  PgSink sink;
};

StationShipper::StationShipper(std::string recordsPath, std::string target,
                               Shipper::Report report, ShipperOptions options)
    : services_(std::make_unique<Services>(target)),
      shipper_(std::make_unique<Shipper>(std::move(recordsPath), services_->sink,
                                         services_->files, services_->clock,
                                         *services_->threads, report, options)) {
  if (const std::string warning = InsecureLinkWarning(target); !warning.empty()) report(warning);
  shipper_->Start();
}

StationShipper::~StationShipper() { shipper_->Stop(0); }

void StationShipper::Wake() { shipper_->Wake(); }

bool StationShipper::Stop(uint32_t drainMs) { return shipper_->Stop(drainMs); }

}  // namespace results
