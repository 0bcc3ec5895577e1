// A station's shipper with the real services: the few lines a front end needs to send
// its records file to the results database beside a run.
#pragma once

#include <memory>
#include <string>

#include "results/shipper.h"

namespace results {

class StationShipper {
 public:
  // Starts at once. `target`: a postgresql:// URL or a libpq key/value string. `report`
  // gets the shipper's state line when it changes (from the shipper's thread).
  StationShipper(std::string recordsPath, std::string target, Shipper::Report report,
                 ShipperOptions options = {});
  ~StationShipper();  // stops without waiting for the database

  // After a record is appended: send it now rather than at the next poll.
  void Wake();
  // At the end of a run: up to `drainMs` ms to send the rest. true when all was sent;
  // what is left goes at the next start.
  bool Stop(uint32_t drainMs);

 private:
  struct Services;
  std::unique_ptr<Services> services_;
  std::unique_ptr<Shipper> shipper_;
};

}  // namespace results
