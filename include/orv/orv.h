// orvLib: everything a host needs, in one include.
#pragma once

#include "orv/batch.h"
#include "orv/bundle.h"
#include "orv/client.h"
#include "orv/convert.h"
#include "orv/coord_transform.h"
#include "orv/device.h"
#include "orv/error.h"
#include "orv/geocode_res.h"
#include "orv/location.h"
#include "orv/location_provider.h"
#include "orv/location_res.h"
#include "orv/location_service.h"
#include "orv/result.h"
#include "orv/run_loop.h"
#include "orv/service_configuration.h"
#include "orv/version.h"
