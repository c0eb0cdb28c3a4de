/* The C API from C: a client against the in-process emulator, a continuous run from a replayed
 * track, the conversions, and input the library must refuse without crashing. */
#define _POSIX_C_SOURCE 200809L /* mkstemp, fdopen */

#include <math.h>
#include <orv/orv_c.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "service_fixture.h"

static int failures;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

#define CHECK_STATUS(call, expected)                                                              \
  do {                                                                                            \
    orv_status got_ = (call);                                                                     \
    if (got_ != (expected)) {                                                                     \
      fprintf(stderr, "%s:%d: %s gave \"%s\" (%s), expected \"%s\"\n", __FILE__, __LINE__, #call, \
              orv_status_text(got_), orv_last_error_message(), orv_status_text(expected));        \
      ++failures;                                                                                 \
    }                                                                                             \
  } while (0)

/* Within `tolerance`, or both not a number. */
static int near(double a, double b, double tolerance) {
  return fabs(a - b) <= tolerance || (isnan(a) && isnan(b));
}

static int near_point(orv_coordinate a, orv_coordinate b, double tolerance) {
  return near(a.latitude, b.latitude, tolerance) && near(a.longitude, b.longitude, tolerance);
}

static int starts_with(const char* text, const char* prefix) {
  return text && strncmp(text, prefix, strlen(prefix)) == 0;
}

/* ---- A recording delegate -------------------------------------------------------------------- */

typedef struct recorder {
  int locations, errors, reverses, geocodes, pois;
  int outcomes;
  int typed_errors;
  orv_error_code last_code;
  long last_status;
  char last_domain[64];
  int stop_at; /* the loop stops when `outcomes` reaches this */
  char last_error[256];
  const orv_location_res* kept;      /* the last location, retained */
  const orv_geocode_list* kept_list; /* the last list, retained */
  orv_client** free_on_location;     /* frees this client inside the location callback */
  orv_client** free_on_error;        /* frees this client inside the error callback */
} recorder;

static void outcome(recorder* r) {
  if (++r->outcomes == r->stop_at) orv_run_stop();
}

static void keep(recorder* r, const orv_location_res* location) {
  orv_location_res_release(r->kept);
  r->kept = orv_location_res_retain(location);
}

static void keep_list(recorder* r, const orv_geocode_list* list) {
  orv_geocode_list_release(r->kept_list);
  r->kept_list = orv_geocode_list_retain(list);
}

static void on_location(void* user, const orv_location_res* location) {
  recorder* r = user;
  ++r->locations;
  keep(r, location);
  if (r->free_on_location && *r->free_on_location) {
    orv_client_free(*r->free_on_location);
    *r->free_on_location = NULL;
  }
  outcome(r);
}

static void on_error(void* user, const char* msg) {
  recorder* r = user;
  ++r->errors;
  snprintf(r->last_error, sizeof r->last_error, "%s", msg);
  if (r->free_on_error && *r->free_on_error) {
    orv_client_free(*r->free_on_error);
    *r->free_on_error = NULL;
  }
  outcome(r);
}

static void on_typed_error(void* user, const orv_error* error) {
  recorder* r = user;
  ++r->typed_errors;
  r->last_code = error->code;
  r->last_status = error->status;
  snprintf(r->last_domain, sizeof r->last_domain, "%s", error->domain);
  snprintf(r->last_error, sizeof r->last_error, "%s", error->message);
  outcome(r);
}

static void on_reverse(void* user, const orv_location_res* location) {
  recorder* r = user;
  ++r->reverses;
  keep(r, location);
  outcome(r);
}

static void on_geocode(void* user, const orv_geocode_list* list) {
  recorder* r = user;
  ++r->geocodes;
  keep_list(r, list);
  outcome(r);
}

static void on_poi(void* user, const orv_geocode_list* list) {
  recorder* r = user;
  ++r->pois;
  keep_list(r, list);
  outcome(r);
}

static const orv_delegate full_delegate = {on_location, on_error, on_reverse,
                                           on_geocode,  on_poi,   NULL};
static const orv_delegate required_only = {on_location, on_error, NULL, NULL, NULL, NULL};
static const orv_delegate typed_delegate = {on_location, on_error, on_reverse,
                                            NULL,        NULL,     on_typed_error};

static void recorder_clear(recorder* r) {
  orv_location_res_release(r->kept);
  orv_geocode_list_release(r->kept_list);
  memset(r, 0, sizeof *r);
}

/* Runs the loop until `total` outcomes have arrived in all (or a generous time-out). */
static int await_total(recorder* r, int total) {
  if (r->outcomes >= total) return 1; /* reported inside the call */
  r->stop_at = total;
  orv_run_for(30.0);
  return r->outcomes >= total;
}

/* Runs the loop until `n` more outcomes have arrived. */
static int await_outcomes(recorder* r, int n) { return await_total(r, r->outcomes + n); }

/* ---- Log capture: a way to see an outcome handled when no callback may show it ----------------
 */

static const char* awaited_line;
static int awaited_seen;

static void log_sink(void* user, const char* line) {
  (void)user;
  if (awaited_line && starts_with(line, awaited_line)) {
    ++awaited_seen;
    orv_run_stop();
  }
}

/* Runs the loop until a log line starting with `prefix` has been written. */
static int await_log_line(const char* prefix) {
  awaited_line = prefix;
  awaited_seen = 0;
  orv_run_for(30.0);
  awaited_line = NULL;
  return awaited_seen > 0;
}

static orv_client* ready_client(const orv_delegate* delegate, recorder* r) {
  orv_client* client = orv_client_new(delegate, r);
  CHECK(client != NULL);
  CHECK_STATUS(orv_client_init_key(client, test_service_key()), ORV_STATUS_OK);
  CHECK_STATUS(orv_client_set_agree_privacy(client, true), ORV_STATUS_OK);
  return client;
}

/* ---- Requests against the emulator ----------------------------------------------------------- */

static void test_requests(void) {
  recorder r = {0};
  orv_client* client = ready_client(&full_delegate, &r);

  CHECK_STATUS(orv_client_get_reverse_code(client, 31.2304, 121.4737), ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(r.reverses == 1 && r.errors == 0);
  /* Retained in the callback, still readable after it. */
  CHECK(starts_with(orv_location_res_json(r.kept), "{\"id\":"));
  CHECK(orv_location_res_address_name(r.kept) && *orv_location_res_address_name(r.kept));
  CHECK(orv_location_res_address_context_count(r.kept) > 0);
  CHECK(orv_location_res_address_context_type(r.kept, 0) != NULL);
  CHECK(orv_location_res_address_context_name(r.kept, 1000) == NULL);
  CHECK(fabs(orv_location_res_point(r.kept).latitude - 31.2304) < 0.01);
  CHECK(orv_location_res_timestamp(r.kept) > 0);

  CHECK_STATUS(orv_client_get_geoc_code(client, "人民大道", "上海市"), ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(r.geocodes == 1 && orv_geocode_list_count(r.kept_list) > 0);
  const orv_geocode_res* hit = orv_geocode_list_at(r.kept_list, 0);
  CHECK(hit && *orv_geocode_res_name(hit) && *orv_geocode_res_geo_point(hit));
  CHECK(starts_with(orv_geocode_res_json(hit), "{\"id\":"));
  CHECK(starts_with(orv_geocode_list_json(r.kept_list), "[{\"id\":"));
  CHECK(orv_geocode_list_at(r.kept_list, orv_geocode_list_count(r.kept_list)) == NULL);

  CHECK_STATUS(orv_client_poi_key_search(client, "博物馆", "310100", "上海市", 1, 5),
               ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(r.pois == 1 && orv_geocode_list_count(r.kept_list) > 0);
  hit = orv_geocode_list_at(r.kept_list, 0);
  CHECK(orv_geocode_res_has_categories(hit) && orv_geocode_res_category_count(hit) > 0);
  CHECK(orv_geocode_res_category_name(hit, 0) && orv_geocode_res_relevance(hit) > 0.0);

  CHECK_STATUS(
      orv_client_poi_nearby_search(client, "", "121.4737,31.2304", 500, "", "distance", 1, 5),
      ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(r.pois == 2 && r.errors == 0);

  const orv_location fix = {{31.2304, 121.4737}, 10.0, 5.0, 8.0, 1.2, 90.0, 1700000000000};
  CHECK_STATUS(orv_client_get_track_location(client, &fix), ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(r.locations == 1 && orv_location_res_has_place(r.kept));
  CHECK(orv_location_res_place_name(r.kept) && orv_location_res_place_distance(r.kept) >= 0.0);

  /* A key the service does not know: the service's failure reaches the error callback. */
  CHECK_STATUS(orv_client_init_key(client, "not-a-key"), ORV_STATUS_OK);
  CHECK(strcmp(orv_shared_access_key(), "not-a-key") == 0);
  CHECK_STATUS(orv_client_get_reverse_code(client, 31.2304, 121.4737), ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(r.errors == 1 && r.last_error[0] != '\0');

  orv_client_free(client);
  recorder_clear(&r);
}

/* The gate reports synchronously, consent first; with no delegate nothing is reported at all. */
static void test_gate(void) {
  recorder r = {0};
  orv_client* client = orv_client_new(&full_delegate, &r);
  CHECK_STATUS(orv_client_get_geoc_code(client, "a", "b"), ORV_STATUS_OK);
  CHECK(r.errors == 1 && strcmp(r.last_error, "您未同意隐私政策") == 0);
  CHECK_STATUS(orv_client_set_agree_privacy(client, true), ORV_STATUS_OK);
  CHECK_STATUS(orv_client_start_location(client), ORV_STATUS_OK);
  CHECK(r.errors == 2 && strcmp(r.last_error, "您未配置 Appkey") == 0);
  /* A key set only as the property passes the gate. */
  CHECK_STATUS(orv_client_set_accesskey(client, "k"), ORV_STATUS_OK);
  CHECK(strcmp(orv_client_accesskey(client), "k") == 0);
  CHECK_STATUS(orv_client_set_accesskey(client, NULL), ORV_STATUS_OK);
  CHECK(orv_client_accesskey(client) == NULL);
  orv_client_free(client);

  /* Freed inside the error callback of a refusal, while the refused call is still under way. */
  const char* refusals[] = {"start", "fast", "geocode", "interval"};
  for (size_t i = 0; i < sizeof refusals / sizeof refusals[0]; ++i) {
    recorder_clear(&r);
    orv_client* doomed = orv_client_new(&full_delegate, &r);
    r.free_on_error = &doomed;
    if (i == 3) {
      CHECK_STATUS(orv_client_init_key(doomed, "k"), ORV_STATUS_OK);
      CHECK_STATUS(orv_client_set_agree_privacy(doomed, true), ORV_STATUS_OK);
      CHECK_STATUS(orv_client_set_is_locate_once(doomed, false), ORV_STATUS_OK);
      orv_use_none(); /* the start is refused by the location manager */
    }
    orv_status status = i == 1   ? orv_client_start_fast_location(doomed)
                        : i == 2 ? orv_client_get_geoc_code(doomed, "a", "b")
                                 : orv_client_start_location(doomed);
    CHECK_STATUS(status, ORV_STATUS_OK);
    CHECK(doomed == NULL && r.errors == 1);
  }

  orv_client* silent = orv_client_new(NULL, NULL);
  CHECK(silent != NULL);
  CHECK_STATUS(orv_client_get_reverse_code(silent, 31.0, 121.0), ORV_STATUS_OK);
  orv_client_free(silent);
}

/* With the typed callback set, failures arrive there instead of the text callback. */
static void test_typed_errors(void) {
  recorder r = {0};
  orv_client* client = orv_client_new(&typed_delegate, &r);
  CHECK_STATUS(orv_client_get_reverse_code(client, 31.2304, 121.4737), ORV_STATUS_OK);
  CHECK(r.typed_errors == 1 && r.errors == 0 && r.last_code == ORV_ERROR_CONSENT_MISSING);
  CHECK(strcmp(r.last_error, "您未同意隐私政策") == 0 && r.last_status == -1);
  CHECK(strcmp(r.last_domain, "orv.client") == 0);

  CHECK_STATUS(orv_client_init_key(client, "not-a-key"), ORV_STATUS_OK);
  CHECK_STATUS(orv_client_set_agree_privacy(client, true), ORV_STATUS_OK);
  CHECK_STATUS(orv_client_get_reverse_code(client, 31.2304, 121.4737), ORV_STATUS_OK);
  CHECK(await_total(&r, 2));
  CHECK(r.typed_errors == 2 && r.last_code == ORV_ERROR_HTTP_STATUS && r.last_status == 401);
  CHECK(r.errors == 0 && r.last_error[0] != '\0');
  orv_client_free(client);

  CHECK(strcmp(orv_error_code_name(ORV_ERROR_TIMED_OUT), "timedOut") == 0);
  CHECK(strcmp(orv_error_code_name((orv_error_code)99), "unknown") == 0);
  recorder_clear(&r);
}

/* A delegate without the optional callbacks: their outcomes are handled and skipped silently. */
static void test_optional_callbacks_skipped(void) {
  recorder r = {0};
  orv_client* client = ready_client(&required_only, &r);
  orv_set_log_sink(log_sink, NULL);
  orv_set_log_enabled(true);
  CHECK_STATUS(orv_client_get_reverse_code(client, 31.2304, 121.4737), ORV_STATUS_OK);
  CHECK(await_log_line("逆地理编码成功"));
  CHECK_STATUS(orv_client_poi_key_search(client, "博物馆", "310100", "上海市", 1, 5),
               ORV_STATUS_OK);
  CHECK(await_log_line("请求成功"));
  CHECK(r.outcomes == 0);
  orv_client_free(client);

  /* A place search in flight outlives its client; its outcome must not reach the freed host. */
  client = ready_client(&full_delegate, &r);
  CHECK_STATUS(orv_client_poi_key_search(client, "博物馆", "310100", "上海市", 1, 5),
               ORV_STATUS_OK);
  orv_client_free(client);
  CHECK(await_log_line("请求成功"));
  CHECK(r.outcomes == 0);

  orv_set_log_enabled(false);
  orv_set_log_sink(NULL, NULL);
  recorder_clear(&r);
}

/* ---- Positioning runs from a replayed track ------------------------------------------------- */

static int write_track(char* path, size_t size) {
  snprintf(path, size, "/tmp/orv_capi_track_XXXXXX");
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  FILE* f = fdopen(fd, "w");
  if (!f) return 0;
  fputs("time,lat,lng,alt,hacc,vacc,speed\n", f);
  for (int i = 0; i < 20; ++i) {
    fprintf(f, "%.2f,%.6f,%.6f,4.0,5.0,8.0,1.3\n", i * 0.1, 31.2285 + i * 0.0001, 121.4718);
  }
  return fclose(f) == 0;
}

static void test_runs(void) {
  char path[64];
  CHECK(write_track(path, sizeof path));
  CHECK_STATUS(orv_main_bundle_set_string("NSLocationWhenInUseUsageDescription", "C API test"),
               ORV_STATUS_OK);
  CHECK_STATUS(orv_use_replay(path, 10.0, true), ORV_STATUS_OK);

  recorder r = {0};
  orv_client* client = ready_client(&full_delegate, &r);

  /* Single run: one enriched position. */
  CHECK_STATUS(orv_client_start_location(client), ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(r.locations == 1 && r.errors == 0);

  /* Continuous run: the first fix at once, then one sample per interval. */
  CHECK_STATUS(orv_client_set_is_locate_once(client, false), ORV_STATUS_OK);
  CHECK_STATUS(orv_client_set_interval(client, 0.05), ORV_STATUS_OK);
  CHECK(orv_client_interval(client) == 0.05 && !orv_client_is_locate_once(client));
  CHECK_STATUS(orv_client_start_location(client), ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 3));
  CHECK_STATUS(orv_client_stop_location(client), ORV_STATUS_OK);
  CHECK(r.locations >= 4 && r.errors == 0);
  const orv_coordinate at = orv_location_res_point(r.kept);
  CHECK(fabs(at.latitude - 31.23) < 0.01 && fabs(at.longitude - 121.47) < 0.01);

  /* A client freed inside its own callback during a continuous run: nothing further arrives. */
  recorder_clear(&r);
  orv_client* doomed = ready_client(&full_delegate, &r);
  r.free_on_location = &doomed;
  CHECK_STATUS(orv_client_set_is_locate_once(doomed, false), ORV_STATUS_OK);
  CHECK_STATUS(orv_client_set_interval(doomed, 0.05), ORV_STATUS_OK);
  CHECK_STATUS(orv_client_start_location(doomed), ORV_STATUS_OK);
  CHECK(await_outcomes(&r, 1));
  CHECK(doomed == NULL);
  orv_run_for(0.2);
  CHECK(r.locations == 1);

  orv_use_none();
  orv_client_free(client);
  recorder_clear(&r);
  unlink(path);
}

/* ---- Conversions ----------------------------------------------------------------------------- */

static void test_conversions(void) {
  const orv_coordinate outside = orv_transform_from_wgs_to_gcj((orv_coordinate){0.5, 116.4});
  CHECK(outside.latitude == 0.5 && outside.longitude == 116.4);
  const double d = orv_distance_by_point(39.9, 31.2, 116.4, 121.5);
  CHECK(fabs(d - 1071286.0) < 1.0);
  CHECK(orv_distance_by_points((orv_coordinate){39.9, 116.4}, (orv_coordinate){31.2, 121.5}) == d);
  CHECK(isnan(orv_distance_by_point(NAN, 31.2, 116.4, 121.5)));

  /* Whole tracks agree with the single forms, also converted in place and as columns; the
   * quadrant search gives exactly their results. */
  typedef orv_coordinate (*single_fn)(orv_coordinate);
  const struct {
    orv_direction direction;
    single_fn single;
    int inverse;
  } forms[] = {
      {ORV_WGS_TO_GCJ, orv_transform_from_wgs_to_gcj, 0},
      {ORV_GCJ_TO_WGS, orv_transform_from_gcj_to_wgs, 1},
      {ORV_GCJ_TO_BAIDU, orv_transform_from_gcj_to_baidu, 0},
      {ORV_BAIDU_TO_GCJ, orv_transform_from_baidu_to_gcj, 0},
      {ORV_WGS_TO_BAIDU, orv_transform_from_wgs_to_baidu, 0},
      {ORV_BAIDU_TO_WGS, orv_transform_from_baidu_to_wgs, 1},
  };
  enum { kPoints = 37 };
  orv_coordinate in[kPoints], out[kPoints], inplace[kPoints], searched[kPoints];
  double lat[kPoints], lng[kPoints];
  for (int i = 0; i < kPoints; ++i) {
    in[i] = (orv_coordinate){20.0 + i * 0.9, 80.0 + i * 1.7};
  }
  in[kPoints - 1].latitude = NAN;
  for (size_t f = 0; f < sizeof forms / sizeof forms[0]; ++f) {
    const orv_direction d = forms[f].direction;
    memcpy(inplace, in, sizeof in);
    for (int i = 0; i < kPoints; ++i) lat[i] = in[i].latitude, lng[i] = in[i].longitude;
    CHECK_STATUS(orv_convert(d, in, out, kPoints, ORV_INVERSE_ITERATIVE), ORV_STATUS_OK);
    CHECK_STATUS(orv_convert(d, inplace, inplace, kPoints, ORV_INVERSE_ITERATIVE), ORV_STATUS_OK);
    CHECK_STATUS(orv_convert(d, in, searched, kPoints, ORV_INVERSE_SEARCH), ORV_STATUS_OK);
    CHECK_STATUS(orv_convert_columns(d, lat, lng, lat, lng, kPoints, ORV_INVERSE_ITERATIVE),
                 ORV_STATUS_OK);
    /* Vector and single forms agree to 1e-10 degree; the search is the single inverse exactly,
     * and the iterative inverse lies nearer the true preimage than it (up to a metre apart). */
    const double tolerance = forms[f].inverse ? 2e-5 : 1e-10;
    for (int i = 0; i < kPoints; ++i) {
      const orv_coordinate one = forms[f].single(in[i]);
      CHECK(near_point(searched[i], one, forms[f].inverse ? 0.0 : 1e-10));
      CHECK(near_point(out[i], one, tolerance));
      CHECK(near_point(inplace[i], out[i], 0.0));
      CHECK(near(lat[i], out[i].latitude, 0.0) && near(lng[i], out[i].longitude, 0.0));
    }
    CHECK_STATUS(orv_convert(d, NULL, out, 1, ORV_INVERSE_ITERATIVE), ORV_STATUS_NULL_ARGUMENT);
    CHECK_STATUS(orv_convert_columns(d, lat, lng, lat, NULL, 1, ORV_INVERSE_ITERATIVE),
                 ORV_STATUS_NULL_ARGUMENT);
    CHECK_STATUS(orv_convert(d, NULL, NULL, 0, ORV_INVERSE_SEARCH), ORV_STATUS_OK);
    CHECK_STATUS(orv_convert(d, in, out, (size_t)-1, ORV_INVERSE_SEARCH), ORV_STATUS_OUT_OF_RANGE);
  }
  CHECK_STATUS(orv_convert((orv_direction)6, in, out, 1, ORV_INVERSE_SEARCH),
               ORV_STATUS_OUT_OF_RANGE);
  CHECK_STATUS(orv_convert(ORV_WGS_TO_GCJ, in, out, 1, (orv_inverse_method)-1),
               ORV_STATUS_OUT_OF_RANGE);
  CHECK(orv_convert_target()[0] != '\0');
}

/* ---- Input the library must refuse ------------------------------------------------------------
 */

static void test_bad_input(void) {
  static const char bad_utf8[] = {'\xff', '\xfe', 'x', '\0'};
  static const char overlong[] = {'\xc0', '\xaf', '\0'};
  recorder r = {0};
  orv_client* client = ready_client(&full_delegate, &r);

  /* NULL client: an error code from operations, neutral values from getters. */
  CHECK_STATUS(orv_client_init_key(NULL, "k"), ORV_STATUS_NULL_ARGUMENT);
  CHECK(strstr(orv_last_error_message(), "client") != NULL);
  CHECK_STATUS(orv_client_start_location(NULL), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_client_get_reverse_code(NULL, 1.0, 1.0), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_client_set_location_delegate(NULL, NULL, NULL), ORV_STATUS_NULL_ARGUMENT);
  CHECK(orv_client_accesskey(NULL) == NULL && orv_client_interval(NULL) == 0.0);
  CHECK(!orv_client_is_agree(NULL) && orv_client_milli_stamp(NULL) == 0);
  orv_client_free(NULL);

  /* NULL and invalid texts. */
  CHECK_STATUS(orv_client_init_key(client, NULL), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_client_init_key(client, bad_utf8), ORV_STATUS_INVALID_UTF8);
  CHECK_STATUS(orv_client_get_geoc_code(client, NULL, "c"), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_client_get_geoc_code(client, "a", overlong), ORV_STATUS_INVALID_UTF8);
  CHECK(strstr(orv_last_error_message(), "city") != NULL);
  CHECK_STATUS(orv_client_poi_key_search(client, "n", NULL, "c", 1, 5), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_client_poi_nearby_search(client, "k", "1,2", 5, bad_utf8, "d", 1, 5),
               ORV_STATUS_INVALID_UTF8);
  CHECK_STATUS(orv_client_set_accesskey(client, bad_utf8), ORV_STATUS_INVALID_UTF8);
  CHECK_STATUS(orv_set_service_configuration(bad_utf8, NULL, NULL), ORV_STATUS_INVALID_UTF8);
  CHECK_STATUS(orv_main_bundle_set_string(NULL, "v"), ORV_STATUS_NULL_ARGUMENT);
  const char* list[] = {"location", bad_utf8};
  CHECK_STATUS(orv_main_bundle_set_string_list("UIBackgroundModes", list, 2),
               ORV_STATUS_INVALID_UTF8);
  CHECK_STATUS(orv_main_bundle_set_string_list("UIBackgroundModes", NULL, 1),
               ORV_STATUS_NULL_ARGUMENT);

  /* Numbers out of range. */
  const double bad_latitudes[] = {NAN, INFINITY, -INFINITY, 90.5, -1e300};
  for (size_t i = 0; i < sizeof bad_latitudes / sizeof bad_latitudes[0]; ++i) {
    CHECK_STATUS(orv_client_get_reverse_code(client, bad_latitudes[i], 121.0),
                 ORV_STATUS_OUT_OF_RANGE);
    CHECK_STATUS(orv_client_get_reverse_code(client, 31.0, bad_latitudes[i] * 2.0),
                 ORV_STATUS_OUT_OF_RANGE);
  }
  const double bad_intervals[] = {NAN, INFINITY, -1.0, 0.0, 2e9};
  for (size_t i = 0; i < sizeof bad_intervals / sizeof bad_intervals[0]; ++i) {
    CHECK_STATUS(orv_client_set_interval(client, bad_intervals[i]), ORV_STATUS_OUT_OF_RANGE);
  }
  CHECK(orv_client_interval(client) == 1.0);
  orv_location fix = {{31.0, 121.0}, 0.0, -1.0, -1.0, -1.0, -1.0, 0};
  fix.coordinate.longitude = 181.0;
  CHECK_STATUS(orv_client_get_track_location(client, &fix), ORV_STATUS_OUT_OF_RANGE);
  fix.coordinate.longitude = 121.0;
  fix.timestamp_ms = INT64_MIN;
  CHECK_STATUS(orv_client_get_track_location(client, &fix), ORV_STATUS_OUT_OF_RANGE);
  CHECK_STATUS(orv_client_get_track_location(client, NULL), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_run_for(-1.0), ORV_STATUS_OUT_OF_RANGE);
  CHECK_STATUS(orv_run_for(NAN), ORV_STATUS_OUT_OF_RANGE);
  CHECK_STATUS(orv_use_replay(NULL, 1.0, false), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_use_replay("/nonexistent/track.csv", 1.0, false), ORV_STATUS_FAILED);
  CHECK(orv_last_error_message()[0] != '\0');
  CHECK_STATUS(orv_use_replay("/dev/null", NAN, false), ORV_STATUS_OUT_OF_RANGE);
  CHECK_STATUS(orv_use_gpsd(NULL, 0), ORV_STATUS_OUT_OF_RANGE);
  CHECK_STATUS(orv_use_gpsd(NULL, 65536), ORV_STATUS_OUT_OF_RANGE);
  CHECK_STATUS(orv_use_gpsd(bad_utf8, 2947), ORV_STATUS_INVALID_UTF8);
  CHECK_STATUS(orv_use_nmea(NULL, 9600), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_use_nmea("/dev/ttyUSB0", 1234), ORV_STATUS_FAILED);

  /* A delegate missing a required callback is refused; so is a NULL out pointer. */
  const orv_delegate no_error = {on_location, NULL, NULL, NULL, NULL, NULL};
  CHECK(orv_client_new(&no_error, NULL) == NULL);
  CHECK(strstr(orv_last_error_message(), "on_location_error_with_msg") != NULL);
  CHECK_STATUS(orv_client_set_location_delegate(client, &no_error, NULL), ORV_STATUS_NULL_ARGUMENT);
  CHECK_STATUS(orv_location_res_decode("{}", NULL), ORV_STATUS_NULL_ARGUMENT);
  const orv_location_res* res = NULL;
  CHECK_STATUS(orv_location_res_decode("{}", &res), ORV_STATUS_FAILED);
  CHECK(res == NULL);
  CHECK_STATUS(orv_location_res_decode(bad_utf8, &res), ORV_STATUS_INVALID_UTF8);
  const orv_geocode_list* hits = NULL;
  CHECK_STATUS(orv_geocode_list_decode("{}", &hits), ORV_STATUS_FAILED);

  /* Accessors given NULL. */
  CHECK(orv_location_res_json(NULL) == NULL && orv_location_res_id(NULL) == NULL);
  CHECK(orv_location_res_point(NULL).latitude == 0.0 && orv_geocode_list_count(NULL) == 0);
  CHECK(orv_geocode_list_at(NULL, 0) == NULL && orv_geocode_res_name(NULL) == NULL);
  CHECK(orv_location_res_retain(NULL) == NULL);
  orv_location_res_release(NULL);
  orv_geocode_list_release(NULL);

  CHECK(strcmp(orv_status_text(ORV_STATUS_INVALID_UTF8), "invalid UTF-8") == 0);
  CHECK(strcmp(orv_status_text((orv_status)99), "unknown status") == 0);

  /* Nothing refused above reached the delegate. */
  CHECK(r.outcomes == 0);
  orv_client_free(client);
}

int main(void) {
  test_service* service = test_service_start();
  if (!service) return 1;
  CHECK_STATUS(orv_set_service_configuration(test_service_base_url(service),
                                             test_service_ca_file(service), NULL),
               ORV_STATUS_OK);

  test_requests();
  test_gate();
  test_typed_errors();
  test_optional_callbacks_skipped();
  test_runs();
  test_conversions();
  test_bad_input();

  test_service_stop(service);
  if (failures)
    fprintf(stderr, "%d check(s) failed\n", failures);
  else
    printf("C API: all checks passed\n");
  return failures ? 1 : 0;
}
