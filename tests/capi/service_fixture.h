/* The in-process emulator of the location web service (HTTPS on loopback with a fresh CA), started
 * from C; NULL on failure, with a message on standard error. */
#ifndef ORV_TESTS_CAPI_SERVICE_FIXTURE_H
#define ORV_TESTS_CAPI_SERVICE_FIXTURE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct test_service test_service;
test_service* test_service_start(void);
void test_service_stop(test_service* service);
const char* test_service_base_url(const test_service* service);
const char* test_service_ca_file(const test_service* service);
const char* test_service_key(void); /* the access key the emulator accepts */

#ifdef __cplusplus
}
#endif

#endif
