/* For the C API test: the in-process emulator of the location web service, started on loopback
 * from C. */
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

#ifdef __cplusplus
}
#endif

#endif
