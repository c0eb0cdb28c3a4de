/* orvLib C API: a stable C11 interface to the client, its records, the run loop, the location
 * providers and the coordinate conversions, for hosts written in C or reaching the library
 * through a foreign-function interface (Rust, Go, C#, Python's ctypes, ...).
 *
 * Conventions
 * - Every symbol starts with orv_ (types) or ORV_ (constants). Objects are opaque handles.
 * - Enumerations end in a *_MAX_ENUM value, which is not a valid value: it keeps every enum as wide
 *   as an int. A value the library does not know is refused.
 * - Texts are UTF-8 and NUL-terminated. A text given to the library is copied before the call
 *   returns. A text the library returns is owned by the library; how long it stays valid is
 *   documented with each function and never exceeds the life of the handle it came from.
 * - Functions that take input return an orv_status. A NULL pointer where one is required, a text
 *   that is not UTF-8, or a number out of range makes the call do nothing and return an error;
 *   orv_last_error_message() then says what was wrong. Nothing crashes on such input and nothing
 *   is thrown across this interface.
 * - As with the C++ client, outcomes of the client's operations travel only through the
 *   delegate. A status of ORV_STATUS_OK from a client operation means the operation was accepted,
 *   not that it succeeded: a refused gate, a failed request or a positioning failure reaches the
 *   delegate's error callback.
 * - Threads: use a client from one thread, the one that created it, and run that thread's loop
 *   (orv_run_for, or orv_poll_fd/orv_process_pending in the host's own event loop). Callbacks run
 *   on that loop: gate failures synchronously inside the call, everything else from the loop.
 */
#ifndef ORV_ORV_C_H
#define ORV_ORV_C_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "orv/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status ---------------------------------------------------------------------------------- */

typedef enum orv_status {
  ORV_STATUS_OK = 0,
  ORV_STATUS_NULL_ARGUMENT = 1, /* a required pointer was NULL */
  ORV_STATUS_INVALID_UTF8 = 2,  /* a text was not valid UTF-8 */
  ORV_STATUS_OUT_OF_RANGE = 3,  /* a number was not finite or outside its range */
  ORV_STATUS_FAILED = 4,        /* the operation failed (for example a file that cannot be read) */
  ORV_STATUS_NO_MEMORY = 5,
  ORV_STATUS_INTERNAL = 6, /* an unexpected failure inside the library */
  ORV_STATUS_MAX_ENUM = 0x7FFFFFFF
} orv_status;

/* A short English name of the status ("null argument", ...); never NULL, static storage. */
ORV_API const char* orv_status_text(orv_status status);
/* What the last call on this thread that returned an error found wrong (empty text when none).
 * Valid until the next call into the library on this thread. */
ORV_API const char* orv_last_error_message(void);

/* ---- Typed failures ------------------------------------------------------------------------ */

typedef enum orv_error_code {
  /* Refused before anything started (reported inside the call). */
  ORV_ERROR_CONSENT_MISSING = 0,
  ORV_ERROR_KEY_MISSING = 1,
  ORV_ERROR_INVALID_INTERVAL = 2,
  /* Positioning (the text starts with "定位失败："). */
  ORV_ERROR_PERMISSION_DECLARATION_MISSING = 3,
  ORV_ERROR_PERMISSION_NOT_DETERMINED = 4,
  ORV_ERROR_PERMISSION_DENIED = 5,
  ORV_ERROR_PERMISSION_RESTRICTED = 6,
  ORV_ERROR_NO_LOCATION_PROVIDER = 7,
  ORV_ERROR_PROVIDER_FAILURE = 8,
  /* Requests. */
  ORV_ERROR_REQUEST_NOT_BUILDABLE = 9,
  ORV_ERROR_NETWORK_UNREACHABLE = 10,
  ORV_ERROR_TIMED_OUT = 11,
  ORV_ERROR_TLS = 12,
  ORV_ERROR_TRANSPORT_FAILURE = 13,
  ORV_ERROR_INVALID_RESPONSE = 14,
  ORV_ERROR_HTTP_STATUS = 15, /* an answer other than 200; `status` holds it */
  ORV_ERROR_RESPONSE_TOO_LARGE = 16,
  ORV_ERROR_DECODING_FAILED = 17,
  ORV_ERROR_CANCELLED = 18,
  /* Geofence monitoring: the monitor could not record its state (domain "orv.geofence"). */
  ORV_ERROR_GEOFENCE_FAILURE = 19,
  ORV_ERROR_CODE_MAX_ENUM = 0x7FFFFFFF
} orv_error_code;

/* One failure, as the typed error callback receives it; texts valid during the callback. */
typedef struct orv_error {
  orv_error_code code;
  /* Where it arose: "orv.client", "orv.location", "NetworkClient", "NetworkError", "CURLE",
   * "JSON". */
  const char* domain;
  long status;                 /* the HTTP status when an answer arrived, otherwise -1 */
  const char* message;         /* exactly the text on_location_error_with_msg would receive */
  int64_t retry_after_seconds; /* a 429 answer's Retry-After, or -1 */
} orv_error;

/* The code's stable lower-camel name ("timedOut"), or "unknown"; static storage. */
ORV_API const char* orv_error_code_name(orv_error_code code);

/* ---- Coordinates and fixes ------------------------------------------------------------------- */

/* Latitude then longitude, degrees. */
typedef struct orv_coordinate {
  double latitude;
  double longitude;
} orv_coordinate;

/* One device fix. Negative accuracies, speed and course mean "invalid". */
typedef struct orv_location {
  orv_coordinate coordinate; /* WGS-84; latitude in [-90, 90], longitude in [-180, 180] */
  double altitude;           /* metres */
  double horizontal_accuracy;
  double vertical_accuracy;
  double speed;         /* metres per second */
  double course;        /* degrees from true north */
  int64_t timestamp_ms; /* milliseconds since 1970-01-01 00:00 UTC */
} orv_location;

/* ---- Result records --------------------------------------------------------------------------
 * Records reach the delegate as read-only handles that are valid for the duration of the callback.
 * To keep one longer, retain it and release it when done; retain and release may be called from
 * any thread. Texts returned by the accessors live as long as the record. An accessor given NULL
 * returns NULL (texts), 0 (numbers) or false. */

/* An enriched location: a fusion-location or reverse-geocode answer, or the on-device answer of a
 * positioning run without network. */
typedef struct orv_location_res orv_location_res;

/* Parses a fusion-location answer (strict, as the client decodes it). On success *out is a new
 * record the caller releases. */
ORV_API orv_status orv_location_res_decode(const char* json, const orv_location_res** out);
/* Returns `res`. */
ORV_API const orv_location_res* orv_location_res_retain(const orv_location_res* res);
ORV_API void orv_location_res_release(const orv_location_res* res); /* NULL is ignored */
/* The record as compact JSON (the service's keys; an absent address or place is left out), or
 * NULL if a field cannot be written as JSON. */
ORV_API const char* orv_location_res_json(const orv_location_res* res);
ORV_API const char* orv_location_res_id(const orv_location_res* res);
ORV_API const char* orv_location_res_asset(const orv_location_res* res);
/* Milliseconds since 1970. */
ORV_API int64_t orv_location_res_timestamp(const orv_location_res* res);
/* The position (GCJ-02 in the client's answers). */
ORV_API orv_coordinate orv_location_res_point(const orv_location_res* res);
/* The address as one text; NULL when the record has no address. */
ORV_API const char* orv_location_res_address_name(const orv_location_res* res);
/* The address's components, in order: count, then type, name and code of the i-th one (NULL when
 * i is out of range or there is no address). */
ORV_API size_t orv_location_res_address_context_count(const orv_location_res* res);
ORV_API const char* orv_location_res_address_context_type(const orv_location_res* res, size_t i);
ORV_API const char* orv_location_res_address_context_name(const orv_location_res* res, size_t i);
ORV_API const char* orv_location_res_address_context_code(const orv_location_res* res, size_t i);
/* The nearby place; NULL (texts) and false when the record has none. */
ORV_API bool orv_location_res_has_place(const orv_location_res* res);
ORV_API const char* orv_location_res_place_name(const orv_location_res* res);
ORV_API const char* orv_location_res_place_type(const orv_location_res* res);
ORV_API double orv_location_res_place_distance(const orv_location_res* res);

/* The hits of a geocoding or place search, in the service's order. The hits belong to the list. */
typedef struct orv_geocode_list orv_geocode_list;
typedef struct orv_geocode_res orv_geocode_res;

/* Parses a geocode or place-search answer (a JSON array). On success *out is a new list the
 * caller releases. */
ORV_API orv_status orv_geocode_list_decode(const char* json, const orv_geocode_list** out);
ORV_API const orv_geocode_list* orv_geocode_list_retain(const orv_geocode_list* list);
ORV_API void orv_geocode_list_release(const orv_geocode_list* list); /* NULL is ignored */
ORV_API size_t orv_geocode_list_count(const orv_geocode_list* list);
/* The i-th hit, valid as long as the list; NULL when i is out of range. */
ORV_API const orv_geocode_res* orv_geocode_list_at(const orv_geocode_list* list, size_t i);
/* The whole list as a compact JSON array, or NULL if a field cannot be written as JSON. */
ORV_API const char* orv_geocode_list_json(const orv_geocode_list* list);

ORV_API const char* orv_geocode_res_json(const orv_geocode_res* hit);
ORV_API const char* orv_geocode_res_id(const orv_geocode_res* hit);
/* The point exactly as the service sends it, as text (never parsed). */
ORV_API const char* orv_geocode_res_geo_point(const orv_geocode_res* hit);
ORV_API const char* orv_geocode_res_type(const orv_geocode_res* hit);
ORV_API const char* orv_geocode_res_name(const orv_geocode_res* hit);
ORV_API const char* orv_geocode_res_code(const orv_geocode_res* hit);
ORV_API const char* orv_geocode_res_address_name(const orv_geocode_res* hit);
ORV_API double orv_geocode_res_relevance(const orv_geocode_res* hit);
ORV_API double orv_geocode_res_distance(const orv_geocode_res* hit);
/* Absent and empty differ: false when the answer had no categories (or null). */
ORV_API bool orv_geocode_res_has_categories(const orv_geocode_res* hit);
ORV_API size_t orv_geocode_res_category_count(const orv_geocode_res* hit);
ORV_API const char* orv_geocode_res_category_id(const orv_geocode_res* hit, size_t i);
ORV_API const char* orv_geocode_res_category_name(const orv_geocode_res* hit, size_t i);

/* ---- Client ---------------------------------------------------------------------------------- */

typedef struct orv_client orv_client;

/* The host's callbacks. Each receives the `user` pointer given with the delegate. The two
 * required callbacks must be set; an optional one left NULL is skipped silently. Records and texts
 * passed in are valid until the callback returns (retain a record to keep it). A callback may call
 * the client, including orv_client_free. */
/* A geofence event (see "Geofencing" below). */
typedef struct orv_geofence_event orv_geofence_event;

typedef struct orv_delegate {
  /* Required: a fusion-location result, or the on-device answer of a run without network. */
  void (*on_received_location_with_orv_location)(void* user, const orv_location_res* location);
  /* Required: every failure of every operation, as the library's fixed text. */
  void (*on_location_error_with_msg)(void* user, const char* msg);
  /* Optional: a reverse-geocode result. */
  void (*on_received_reverse_code_with_orv_location)(void* user, const orv_location_res* location);
  /* Optional: geocode hits. */
  void (*on_received_geocode_with_result)(void* user, const orv_geocode_list* result);
  /* Optional: place-search hits (key or nearby search). */
  void (*on_received_poi_search_with_result)(void* user, const orv_geocode_list* result);
  /* Optional: every failure, typed. When set, failures arrive here instead of
   * on_location_error_with_msg (whose text is error->message), as in the C++ delegate. */
  void (*on_location_error)(void* user, const orv_error* error);
  /* Optional: an event of the client's geofence monitoring. */
  void (*on_geofence_event)(void* user, const orv_geofence_event* event);
} orv_delegate;

/* Creates a client on the calling thread and writes the version banner. `delegate` is copied; NULL
 * means no delegate (failures then leave only their log lines). Returns NULL when the delegate
 * lacks a required callback (see orv_last_error_message). */
ORV_API orv_client* orv_client_new(const orv_delegate* delegate, void* user);
/* Destroys the client. No callback of this client runs after this returns, also for requests
 * still in flight (their outcomes are dropped). NULL is ignored. */
ORV_API void orv_client_free(orv_client* client);
/* Replaces the delegate, as orv_client_new takes it. */
ORV_API orv_status orv_client_set_location_delegate(orv_client* client,
                                                    const orv_delegate* delegate, void* user);

/* Key and consent. The key is stored for this client and as the process-wide key sent with every
 * request; it is not validated (an empty text is a key). */
ORV_API orv_status orv_client_init_key(orv_client* client, const char* accesskey);
ORV_API orv_status orv_client_set_agree_privacy(orv_client* client, bool is_agree);

/* Properties. A getter given NULL returns 0 or false. */
/* Only its presence is checked by the gate; NULL makes it absent. The key sent is always the one
 * of the last orv_client_init_key. */
ORV_API orv_status orv_client_set_accesskey(orv_client* client, const char* accesskey);
/* NULL when absent; valid until the key is set again or the client is freed. */
ORV_API const char* orv_client_accesskey(const orv_client* client);
/* Seconds between samples of a continuous run: a finite number above zero, at most 1e9. */
ORV_API orv_status orv_client_set_interval(orv_client* client, double seconds);
ORV_API double orv_client_interval(const orv_client* client);
ORV_API orv_status orv_client_set_is_locate_once(orv_client* client, bool value);
ORV_API bool orv_client_is_locate_once(const orv_client* client);
ORV_API orv_status orv_client_set_is_fast_location(orv_client* client, bool value);
ORV_API bool orv_client_is_fast_location(const orv_client* client);
ORV_API orv_status orv_client_set_is_agree(orv_client* client, bool value);
ORV_API bool orv_client_is_agree(const orv_client* client);
/* Now, in milliseconds since 1970, halves rounded away from zero. */
ORV_API int64_t orv_client_milli_stamp(const orv_client* client);

/* Positioning runs: single (is_locate_once, the default), fast single, or continuous every
 * `interval` seconds. Results arrive as on_received_location_with_orv_location. */
ORV_API orv_status orv_client_start_location(orv_client* client);
ORV_API orv_status orv_client_start_fast_location(orv_client* client);
ORV_API orv_status orv_client_stop_location(orv_client* client);

/* Fusion location of a fix given by the host. */
ORV_API orv_status orv_client_get_track_location(orv_client* client, const orv_location* location);
/* Reverse geocoding of a GCJ-02 coordinate (latitude in [-90, 90], longitude in [-180, 180]). */
ORV_API orv_status orv_client_get_reverse_code(orv_client* client, double latitude,
                                               double longitude);
ORV_API orv_status orv_client_get_geoc_code(orv_client* client, const char* address,
                                            const char* city);
ORV_API orv_status orv_client_poi_key_search(orv_client* client, const char* name,
                                             const char* city_code, const char* city,
                                             int32_t page_index, int32_t page_size);
/* `location` is the host's own text for the centre point, sent unchanged. */
ORV_API orv_status orv_client_poi_nearby_search(orv_client* client, const char* keywords,
                                                const char* location, int32_t radius,
                                                const char* category, const char* orderby,
                                                int32_t page_index, int32_t page_size);

/* The same five operations, each also giving in *request (when `request` is not NULL) a handle
 * that can cancel it; *request is NULL when nothing started (a refused argument, or the gate turned
 * the call down). Free every handle given with orv_request_free. */
typedef struct orv_request orv_request;
ORV_API orv_status orv_client_get_track_location_with_handle(orv_client* client,
                                                             const orv_location* location,
                                                             orv_request** request);
ORV_API orv_status orv_client_get_reverse_code_with_handle(orv_client* client, double latitude,
                                                           double longitude, orv_request** request);
ORV_API orv_status orv_client_get_geoc_code_with_handle(orv_client* client, const char* address,
                                                        const char* city, orv_request** request);
ORV_API orv_status orv_client_poi_key_search_with_handle(orv_client* client, const char* name,
                                                         const char* city_code, const char* city,
                                                         int32_t page_index, int32_t page_size,
                                                         orv_request** request);
ORV_API orv_status orv_client_poi_nearby_search_with_handle(
    orv_client* client, const char* keywords, const char* location, int32_t radius,
    const char* category, const char* orderby, int32_t page_index, int32_t page_size,
    orv_request** request);
/* From any thread: unless the request's outcome has been handled, its transfer is aborted and the
 * delegate gets one on_location_error with ORV_ERROR_CANCELLED (text "请求已取消") instead of the
 * outcome. Later calls, and NULL, do nothing. A handle may outlive its client. */
ORV_API void orv_request_cancel(const orv_request* request);
/* True once the request has ended (outcome handled or dropped, cancelled or not). */
ORV_API bool orv_request_finished(const orv_request* request);
/* Frees the handle only; the request goes on. NULL is ignored. */
ORV_API void orv_request_free(orv_request* request);

/* ---- Process-wide settings ------------------------------------------------------------------- */

/* The log switch (default off). Lines go to standard output unless a sink is set. */
ORV_API void orv_set_log_enabled(bool enabled);
ORV_API bool orv_is_log_enabled(void);
/* Receives each log line (UTF-8, no newline, valid during the call), one call at a time, no lock
 * held: it may call the library. NULL restores standard output. */
ORV_API void orv_set_log_sink(void (*sink)(void* user, const char* line), void* user);
/* The key of the last orv_client_init_key of any client. Valid until the next call of this
 * function on the same thread. */
ORV_API const char* orv_shared_access_key(void);
/* Where the service is: base URL ("https://host[:port]"), PEM file of trusted CAs, proxy URL.
 * NULL or "" means the default (build-time URL, system CA store, no proxy). Applies to requests
 * started afterwards. */
ORV_API orv_status orv_set_service_configuration(const char* base_url, const char* ca_file,
                                                 const char* proxy);
/* The host application's declarations, read by positioning (for example
 * "NSLocationWhenInUseUsageDescription" = a text, "UIBackgroundModes" = {"location"}). */
ORV_API orv_status orv_main_bundle_set_string(const char* key, const char* value);
ORV_API orv_status orv_main_bundle_set_string_list(const char* key, const char* const* values,
                                                   size_t count);
ORV_API orv_status orv_main_bundle_remove(const char* key);

/* Device facts sent with each request. A NULL field keeps what the system reports; the vendor
 * identifier is sent as given (an upper-case UUID text). */
typedef struct orv_device_overrides {
  const char* vendor_identifier;
  const char* model;
  const char* system_name;
  const char* system_version;
  const char* manufacturer;
} orv_device_overrides;

/* Replaces earlier overrides; NULL (or every field NULL) restores the system's facts. Thread-safe.
 */
ORV_API orv_status orv_set_device_overrides(const orv_device_overrides* overrides);

/* ---- Location providers (process-wide, chosen before starting a run) ------------------------- */

/* Plays a CSV track (header row, then time,lat,lng,alt,hacc,vacc,speed; time in seconds). `speed`
 * 1 is the recorded pace, larger is faster, 0 plays one row per pass of the run loop; `loop`
 * starts over at the end. Fails (nothing changes) when the file cannot be read or a row is bad. */
ORV_API orv_status orv_use_replay(const char* path, double speed, bool loop);
/* Fixes from gpsd (its JSON protocol over TCP). `host` NULL means "127.0.0.1"; `port` in
 * [1, 65535], gpsd's own is 2947. Nothing connects before the first start; a daemon that cannot be
 * reached fails the start through the delegate. */
ORV_API orv_status orv_use_gpsd(const char* host, int port);
/* NMEA 0183 sentences from a serial device ("/dev/ttyUSB0", with `baud_rate` 4800 to 921600),
 * "tcp:HOST:PORT" or "udp:PORT". Fails (nothing changes) when the source or rate is malformed;
 * nothing is opened before the first start. */
ORV_API orv_status orv_use_nmea(const char* source, int baud_rate);
/* The default: at each start the first system source that answers (gpsd at 127.0.0.1:2947). */
ORV_API void orv_use_system_default(void);
/* No provider: every start fails with a message saying how to choose one. */
ORV_API void orv_use_none(void);

/* GeoClue2, the desktop's location service. `desktop_id` is the host's desktop file name without
 * ".desktop" (GeoClue's agent shows it when asking the user); `desired_accuracy` in metres,
 * negative for best (up to 10 exact, 100 street, 1000 neighborhood, beyond that city);
 * `distance_filter` the metres the device must move between fixes (>= 0). Fails (nothing changes)
 * when the library was built without GeoClue or the id is empty; nothing talks to the bus before
 * the first start. */
ORV_API orv_status orv_use_geoclue(const char* desktop_id, double desired_accuracy,
                                   double distance_filter);

/* Whether the host may position, as device location services number it. */
typedef enum orv_authorization_status {
  ORV_AUTHORIZATION_NOT_DETERMINED = 0,
  ORV_AUTHORIZATION_RESTRICTED = 1,
  ORV_AUTHORIZATION_DENIED = 2,
  ORV_AUTHORIZATION_AUTHORIZED_ALWAYS = 3,
  ORV_AUTHORIZATION_AUTHORIZED_WHEN_IN_USE = 4,
  ORV_AUTHORIZATION_STATUS_MAX_ENUM = 0x7FFFFFFF
} orv_authorization_status;

/* A provider driven by hand, for tests and for hosts that get fixes from elsewhere. Fixes and
 * errors pushed into it reach every client that is running, on each client's own loop. Its
 * functions may be called from any thread. */
typedef struct orv_simulated_provider orv_simulated_provider;

/* Installs a fresh simulated provider (authorized when in use) and returns a handle to it, or NULL
 * (see orv_last_error_message). The handle outlives the choice: freeing it does not uninstall the
 * provider, and choosing another provider leaves the handle usable (pushes then reach no one). */
ORV_API orv_simulated_provider* orv_use_simulated(void);
ORV_API void orv_simulated_provider_free(orv_simulated_provider* provider); /* NULL is ignored */
/* Fixes, oldest first; `count` may be 0. Each is checked as orv_client_get_track_location checks
 * its fix, and nothing is pushed when one is refused. */
ORV_API orv_status orv_simulated_push_locations(orv_simulated_provider* provider,
                                                const orv_location* locations, size_t count);
/* A failure with the provider's own text (a positioning failure for every running client). */
ORV_API orv_status orv_simulated_push_error(orv_simulated_provider* provider, const char* message);
ORV_API orv_status orv_simulated_set_authorization_status(orv_simulated_provider* provider,
                                                          orv_authorization_status status);
/* The statuses a permission request moves to; NULL leaves the status as it is (the default). */
ORV_API orv_status orv_simulated_set_status_after_request(
    orv_simulated_provider* provider, const orv_authorization_status* when_in_use,
    const orv_authorization_status* always);
/* Whether some client is streaming from this provider; false for NULL. */
ORV_API bool orv_simulated_is_updating(const orv_simulated_provider* provider);

/* The host's own provider (a CAN bus, a proprietary receiver). Each running client gets its own
 * stream: `start` receives a sink to push that stream's fixes and failures into, `stop` the same
 * sink when the stream ends. `start` and `stop` run on the client's thread; they must not call
 * orv_use_* nor free a client. The sink passed in is valid until `stop` for it returns; to use it
 * longer, or from threads of the host's own, retain it and release it when done. */
typedef struct orv_location_sink orv_location_sink;

typedef struct orv_location_provider {
  /* Required: begins streaming into `sink`. Failures go to the sink, never out of this call. */
  void (*start)(void* user, orv_location_sink* sink);
  /* Required: ends the stream of `sink`. */
  void (*stop)(void* user, orv_location_sink* sink);
  /* Optional (NULL: always authorized when in use; a value outside the enumerators counts as
   * denied). Any thread; must be cheap. */
  orv_authorization_status (*authorization_status)(void* user);
  /* Optional: a permission prompt, `always` asking for the upgrade to authorized always. */
  void (*request_authorization)(void* user, bool always);
  /* Optional: called once when the library lets go of the provider (another one was chosen and
   * no stream of it is left), on whichever thread lets go last; `user` may be freed then. */
  void (*release)(void* user);
} orv_location_provider;

/* Installs the host's provider; `provider` is copied. Fails (nothing changes) when a required
 * callback is NULL. */
ORV_API orv_status orv_use_provider(const orv_location_provider* provider, void* user);
/* Any thread. Returns `sink`. */
ORV_API orv_location_sink* orv_location_sink_retain(orv_location_sink* sink);
ORV_API void orv_location_sink_release(orv_location_sink* sink); /* NULL is ignored */
/* Any thread, never blocking and never calling back: the client handles the fixes (oldest first)
 * or the failure later on its own loop. Checked as orv_simulated_push_locations checks; once the
 * stream is stopped everything pushed is dropped. */
ORV_API orv_status orv_location_sink_push_locations(orv_location_sink* sink,
                                                    const orv_location* locations, size_t count);
ORV_API orv_status orv_location_sink_push_error(orv_location_sink* sink, const char* message);

/* What kind of failure a provider reports; the library types the client's error by the kind,
 * never by the text (which is what the host's delegate sees). */
typedef enum orv_location_failure {
  ORV_LOCATION_FAILURE_UNSPECIFIED = 0,          /* as orv_location_sink_push_error */
  ORV_LOCATION_FAILURE_SOURCE_UNREACHABLE = 1,   /* could not be opened or reached */
  ORV_LOCATION_FAILURE_SOURCE_LOST = 2,          /* went away and did not come back */
  ORV_LOCATION_FAILURE_PROTOCOL_ERROR = 3,       /* answered, but not in its protocol */
  ORV_LOCATION_FAILURE_PERMISSION_DENIED = 4,    /* the source refuses this host */
  ORV_LOCATION_FAILURE_PERMISSION_PENDING = 5,   /* nobody answered the permission question */
  ORV_LOCATION_FAILURE_NO_SOURCE_CONFIGURED = 6, /* the host chose no source */
  ORV_LOCATION_FAILURE_MAX_ENUM = 0x7FFFFFFF
} orv_location_failure;

/* A failure with its kind, as orv_location_sink_push_error otherwise: the client's error is
 * ORV_ERROR_PERMISSION_NOT_DETERMINED for a pending permission, ORV_ERROR_NO_LOCATION_PROVIDER for
 * no source, ORV_ERROR_PERMISSION_DENIED (or _RESTRICTED, by the provider's status) for a refusal,
 * and otherwise ORV_ERROR_PROVIDER_FAILURE unless the provider's status is denied or restricted. */
ORV_API orv_status orv_location_sink_push_error_kind(orv_location_sink* sink,
                                                     orv_location_failure kind,
                                                     const char* message);

/* ---- Run loop of the calling thread ---------------------------------------------------------- */

/* Runs the loop for at most `seconds` (finite, >= 0), or until orv_run_stop. */
ORV_API orv_status orv_run_for(double seconds);
/* Makes a running orv_run_for of the calling thread's loop return (from one of its callbacks). */
ORV_API void orv_run_stop(void);
/* A descriptor that becomes readable when work is pending; then call orv_process_pending. */
ORV_API int orv_poll_fd(void);
/* Runs pending work and due timers without blocking. */
ORV_API void orv_process_pending(void);
/* Milliseconds (rounded up) until the next timer is due, 0 when overdue, -1 without timers:
 * a timeout for poll() or epoll_wait(). */
ORV_API int orv_time_until_next_timer(void);

/* ---- Coordinate conversion and distance ------------------------------------------------------
 * WGS-84 (satellite fixes), GCJ-02 (maps of mainland China), BD-09. Pure functions, callable from
 * any thread; a non-finite input gives a non-finite output. */

ORV_API orv_coordinate orv_transform_from_wgs_to_gcj(orv_coordinate wgs);
ORV_API orv_coordinate orv_transform_from_gcj_to_wgs(orv_coordinate gcj);
ORV_API orv_coordinate orv_transform_from_gcj_to_baidu(orv_coordinate gcj);
ORV_API orv_coordinate orv_transform_from_baidu_to_gcj(orv_coordinate bd);
ORV_API orv_coordinate orv_transform_from_wgs_to_baidu(orv_coordinate wgs);
ORV_API orv_coordinate orv_transform_from_baidu_to_wgs(orv_coordinate bd);

/* Whole tracks at once, on the CPU's widest vector unit. Results agree with the single forms to
 * within 1e-10 degree (exactly, for non-finite input). */
typedef enum orv_direction {
  ORV_WGS_TO_GCJ = 0,
  ORV_GCJ_TO_WGS = 1,
  ORV_GCJ_TO_BAIDU = 2,
  ORV_BAIDU_TO_GCJ = 3,
  ORV_WGS_TO_BAIDU = 4,
  ORV_BAIDU_TO_WGS = 5,
  ORV_DIRECTION_MAX_ENUM = 0x7FFFFFFF
} orv_direction;

/* How GCJ-02 is turned back into WGS-84 (also on the way from BD-09). ITERATIVE: within 1e-9
 * degree of the true preimage, and fast. SEARCH: the single forms' quadrant search, exactly their
 * results (about one metre). */
typedef enum orv_inverse_method {
  ORV_INVERSE_ITERATIVE = 0,
  ORV_INVERSE_SEARCH = 1,
  ORV_INVERSE_METHOD_MAX_ENUM = 0x7FFFFFFF
} orv_inverse_method;

/* out[i] = the conversion of in[i], for i < count. `out` may be `in` itself, otherwise the two must
 * not overlap. NULL arrays are refused unless count is 0. */
ORV_API orv_status orv_convert(orv_direction direction, const orv_coordinate* in,
                               orv_coordinate* out, size_t count, orv_inverse_method inverse);
/* The same on separate latitude and longitude columns (degrees). Each output column may be the
 * input column of the same name, otherwise it must not overlap any input: outputs that overlap
 * each other, or an input other than their own, are refused with ORV_STATUS_FAILED. */
ORV_API orv_status orv_convert_columns(orv_direction direction, const double* latitude,
                                       const double* longitude, double* out_latitude,
                                       double* out_longitude, size_t count,
                                       orv_inverse_method inverse);
/* The instruction set the conversions run on ("AVX2", "NEON", ...); static storage. */
ORV_API const char* orv_convert_target(void);

/* Great-circle metres on a sphere of radius 6371004 m. Note the order: both latitudes, then both
 * longitudes. */
ORV_API double orv_distance_by_point(double lat1, double lat2, double lng1, double lng2);
ORV_API double orv_distance_by_points(orv_coordinate point1, orv_coordinate point2);

/* ---- Version --------------------------------------------------------------------------------- */

/* The library's version ("0.1.0") and build number; static storage. */
ORV_API const char* orv_sdk_version(void);
ORV_API const char* orv_build_number(void);

/* ---- Geofencing
 * ---------------------------------------------------------------------------------- Circles and
 * polygons watched against fixes, on the device (no service call, no key). The rules are those of
 * orv/geofence.h: a fix is inside or outside a fence only when it is so by at least its horizontal
 * accuracy, otherwise it changes nothing; unknown or outside -> inside is ENTER, inside -> outside
 * is EXIT, DWELL comes once per stay. Time is the fix's own timestamp. A monitor belongs to the
 * thread that uses it (it is not locked). */

typedef struct orv_geofence orv_geofence;

typedef enum orv_geofence_event_kind {
  ORV_GEOFENCE_ENTER = 1,
  ORV_GEOFENCE_EXIT = 2,
  ORV_GEOFENCE_DWELL = 4,
  ORV_GEOFENCE_EVENT_KIND_MAX_ENUM = 0x7FFFFFFF
} orv_geofence_event_kind;

/* The datum a fence's coordinates are given in; fences are converted to WGS-84 when added. */
typedef enum orv_datum {
  ORV_DATUM_WGS84 = 0,
  ORV_DATUM_GCJ02 = 1,
  ORV_DATUM_BD09 = 2,
  ORV_DATUM_MAX_ENUM = 0x7FFFFFFF
} orv_datum;

/* One event; the fence id is valid during the callback. `fix` is the fix that caused it (WGS-84).
 */
struct orv_geofence_event {
  orv_geofence_event_kind kind;
  const char* fence_id;
  orv_location fix;
};

/* How a fence is added. NULL options mean: WGS-84, no dwell, every transition. */
typedef struct orv_geofence_options {
  orv_datum datum;
  /* Seconds inside before DWELL, finite and >= 0; negative means no DWELL events. */
  double dwell_seconds;
  /* Which events the fence reports: a mask of orv_geofence_event_kind values (0 to 7); its state
   * is tracked either way. */
  uint32_t transitions;
} orv_geofence_options;

/* A new monitor in *out (freed with orv_geofence_free). `state_path` NULL keeps the fences' state
 * in memory; otherwise it is recorded in that SQLite file (created when missing) before any event
 * is delivered, and resumed for a fence added again under the same id after a restart. A state file
 * of another version, or corrupt, fails with ORV_STATUS_FAILED (never reset). */
ORV_API orv_status orv_geofence_new(const char* state_path, orv_geofence** out);
/* NULL is ignored. A client monitoring with this monitor keeps it until monitoring stops. */
ORV_API void orv_geofence_free(orv_geofence* geofence);
/* Receives the events of orv_geofence_update, inside that call, in fence-id order, ENTER before
 * DWELL. NULL removes the callback. The callback may call the library, orv_geofence_free on this
 * monitor included (the rest of that fix's events then still reach it). */
ORV_API orv_status orv_geofence_set_event_callback(
    orv_geofence* geofence, void (*callback)(void* user, const orv_geofence_event* event),
    void* user);
/* Adds a fence, or replaces the fence of the same id (whose state starts over). A refused fence
 * (bad radius, self-intersecting ring, over 500 km across, across the antimeridian, ...) fails
 * with ORV_STATUS_FAILED and a message naming it. */
ORV_API orv_status orv_geofence_add_circle(orv_geofence* geofence, const char* id,
                                           orv_coordinate center, double radius_m,
                                           const orv_geofence_options* options);
/* One polygon: rings[0] (ring_sizes[0] vertices) is the outer ring, the others are holes. */
ORV_API orv_status orv_geofence_add_polygon(orv_geofence* geofence, const char* id,
                                            const orv_coordinate* const* rings,
                                            const size_t* ring_sizes, size_t ring_count,
                                            const orv_geofence_options* options);
/* The fences of a GeoJSON FeatureCollection (see the README), all or none; `added` (may be NULL)
 * receives how many. */
ORV_API orv_status orv_geofence_load_geojson(orv_geofence* geofence, const char* geojson,
                                             orv_datum datum, size_t* added);
/* Forgets the fence and its recorded state; `removed` (may be NULL) says whether there was one. */
ORV_API orv_status orv_geofence_remove(orv_geofence* geofence, const char* id, bool* removed);
/* The number of fences; 0 for NULL. */
ORV_API size_t orv_geofence_count(const orv_geofence* geofence);
/* Feeds one fix (WGS-84, checked as orv_client_get_track_location checks it); its events go to the
 * event callback before this returns. ORV_STATUS_FAILED when the state file cannot be written
 * (the fences' state is then left as it was). */
ORV_API orv_status orv_geofence_update(orv_geofence* geofence, const orv_location* fix);

/* The client's monitoring switch: while on, every fix the location provider delivers is fed to
 * `geofence` and its events reach the delegate's on_geofence_event, from the client's loop (the
 * monitor's own event callback is not called for them). Passes the gate of
 * orv_client_start_location, whose refusals reach the delegate with the same texts and codes.
 * Monitoring runs its own stream of fixes, whether or not a positioning run is under way; a
 * positioning failure ends it. Starting again replaces the monitor. */
ORV_API orv_status orv_client_start_geofence_monitoring(orv_client* client, orv_geofence* geofence);
ORV_API orv_status orv_client_stop_geofence_monitoring(orv_client* client);
ORV_API bool orv_client_is_geofence_monitoring(const orv_client* client);

#ifdef __cplusplus
}
#endif

#endif /* ORV_ORV_C_H */
