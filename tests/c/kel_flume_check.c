/* The public reader header must stay usable from plain C99 with no platform library. */
/* POSIX's own feature-test macro, reserved name and all. */
#define _POSIX_C_SOURCE 200809L /* NOLINT(bugprone-reserved-identifier) */
#include "velaclock/kel_flume.h"

int kel_flume_check(void) {
  struct vela_pps_edge_timestamps record;
  char name[KEL_FLUME_NAME_SIZE];
  return (int)kel_flume_segment_name(name, sizeof name, geteuid(), "check",
                                     "ppsWaiter/timestamps") +
         (int)sizeof record;
}
