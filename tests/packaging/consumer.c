/* A C host built only against the installed library, through pkg-config. */
#include <orv/orv_c.h>
#include <stdio.h>

int main(void) {
  const orv_coordinate gcj = orv_transform_from_wgs_to_gcj((orv_coordinate){39.9, 116.4});
  orv_client* client = orv_client_new(NULL, NULL);
  const int ok = client != NULL && gcj.latitude != 39.9;
  orv_client_free(client);
  printf("%s %.6f %.6f\n", orv_sdk_version(), gcj.latitude, gcj.longitude);
  return ok ? 0 : 1;
}
