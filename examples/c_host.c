/* A host written in C with its own poll() loop: positions continuously from a recorded track,
 * then reverse-geocodes the last position and searches nearby, printing each outcome as JSON.
 *
 *   c_host SERVICE_URL CA_FILE ACCESS_KEY TRACK_CSV [SAMPLES]
 *
 * (orv-emulator prints a service URL and CA file to try it with; its key is orv-demo-key.) */
#define _POSIX_C_SOURCE 200809L

#include <orv/orv_c.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>

typedef struct host {
  int samples_wanted;
  int samples;
  int pending; /* requests whose outcome has not arrived yet */
  int failures;
  orv_coordinate last;
} host;

static void on_location(void* user, const orv_location_res* location) {
  host* h = user;
  h->last = orv_location_res_point(location);
  printf("position %d: %s\n", ++h->samples, orv_location_res_json(location));
}

static void on_error(void* user, const char* msg) {
  host* h = user;
  ++h->failures;
  if (h->pending > 0) --h->pending;
  fprintf(stderr, "failure: %s\n", msg);
}

static void on_reverse(void* user, const orv_location_res* location) {
  host* h = user;
  --h->pending;
  const char* address = orv_location_res_address_name(location);
  printf("reverse geocode: %s\n", address ? address : "(no address)");
}

static void on_poi(void* user, const orv_geocode_list* hits) {
  host* h = user;
  --h->pending;
  printf("nearby: %zu hits\n", orv_geocode_list_count(hits));
  for (size_t i = 0; i < orv_geocode_list_count(hits); ++i) {
    const orv_geocode_res* hit = orv_geocode_list_at(hits, i);
    printf("  %s (%.0f m)\n", orv_geocode_res_name(hit), orv_geocode_res_distance(hit));
  }
}

/* One turn of the host's loop: sleep until the library has work or a timer is due, then run it.
 * A real host would watch its own descriptors in the same poll(). */
static void turn(void) {
  struct pollfd fd = {.fd = orv_poll_fd(), .events = POLLIN};
  poll(&fd, 1, orv_time_until_next_timer());
  orv_process_pending();
}

static int check(orv_status status, const char* what) {
  if (status == ORV_STATUS_OK) return 1;
  fprintf(stderr, "%s: %s (%s)\n", what, orv_status_text(status), orv_last_error_message());
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: %s SERVICE_URL CA_FILE ACCESS_KEY TRACK_CSV [SAMPLES]\n", argv[0]);
    return 2;
  }
  host h = {.samples_wanted = argc > 5 ? atoi(argv[5]) : 3};
  printf("orvLib %s (build %s)\n", orv_sdk_version(), orv_build_number());

  if (!check(orv_set_service_configuration(argv[1], argv[2], NULL), "service") ||
      !check(orv_main_bundle_set_string("NSLocationWhenInUseUsageDescription",
                                        "shows where the vehicle is"),
             "declaration") ||
      !check(orv_use_replay(argv[4], 20.0, true), "track")) {
    return 1;
  }

  const orv_delegate delegate = {
      .on_received_location_with_orv_location = on_location,
      .on_location_error_with_msg = on_error,
      .on_received_reverse_code_with_orv_location = on_reverse,
      .on_received_poi_search_with_result = on_poi, /* geocoding unused: left NULL */
  };
  orv_client* client = orv_client_new(&delegate, &h);
  if (!client) return 1;
  check(orv_client_init_key(client, argv[3]), "key");
  check(orv_client_set_agree_privacy(client, true), "consent");
  check(orv_client_set_is_locate_once(client, false), "mode");
  check(orv_client_set_interval(client, 0.2), "interval");

  check(orv_client_start_location(client), "start");
  while (h.samples < h.samples_wanted && h.failures == 0) turn();
  check(orv_client_stop_location(client), "stop");

  if (h.failures == 0) {
    char centre[64];
    snprintf(centre, sizeof centre, "%.6f,%.6f", h.last.longitude, h.last.latitude);
    h.pending = 2;
    check(orv_client_get_reverse_code(client, h.last.latitude, h.last.longitude), "reverse");
    check(orv_client_poi_nearby_search(client, "", centre, 500, "", "distance", 1, 3), "nearby");
    while (h.pending > 0) turn();
  }

  orv_client_free(client);
  orv_use_none();
  return h.failures == 0 ? 0 : 1;
}
