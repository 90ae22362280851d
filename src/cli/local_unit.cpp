#include "local_unit.h"

namespace valve::cli {

LocalUnit::LocalUnit(link::FtdiDriver& driver, QByteArray description, link::LinkTiming timing, bool confirm)
    : pick_(std::move(description)), search_(driver, pick_, log_), link_(driver, search_, log_, timing),
      boxes_(confirm), session_(commands::windowlessSession(link_, log_, boxes_, exchange_, positions_)) {}

LocalUnit::~LocalUnit() {
    close();
}

QCoro::Task<bool> LocalUnit::open() {
    const bool opened = co_await link_.configure_usb_connection();
    co_return opened;
}

} // namespace valve::cli
