#include "device/Poller.h"

Poller::Poller() = default;

Poller::~Poller() = default;
