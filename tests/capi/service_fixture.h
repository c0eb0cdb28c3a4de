/* For the C API test: the in-process emulator of the location web service and a stand-in gpsd,
 * started on loopback from C. */
#ifndef ORV_TESTS_CAPI_SERVICE_FIXTURE_H
#define ORV_TESTS_CAPI_SERVICE_FIXTURE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct test_service test_service;

/* Starts the emulator (HTTPS with a fresh self-signed CA); NULL on failure, with a message on
 * standard error. */
test_service* test_service_start(void);
void test_service_stop(test_service* service);
const char* test_service_base_url(const test_service* service);
const char* test_service_ca_file(const test_service* service);
/* The access key the emulator accepts. */
const char* test_service_key(void);
/* Requests that have reached the emulator so far. */
unsigned long test_service_requests(const test_service* service);

/* A stand-in gpsd on loopback that serves one connection: the greeting, then one 3D fix (TPV)
 * at the given WGS-84 position, then waits until the client hangs up. */
typedef struct test_gpsd test_gpsd;
test_gpsd* test_gpsd_start(double latitude, double longitude);
int test_gpsd_port(const test_gpsd* gpsd);
/* Waits for the connection to end (at most a few seconds). */
void test_gpsd_stop(test_gpsd* gpsd);
/* A loopback port on which nothing listens. */
int test_unused_port(void);

#ifdef __cplusplus
}
#endif

#endif
