#include "device/ControllerFactory.h"

ControllerFactory::~ControllerFactory() = default;
