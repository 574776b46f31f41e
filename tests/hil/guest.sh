#!/bin/sh
# The scenarios of the hardware-in-the-loop tier, run by the guest's init with the kernel's own
# i2c-stub and i2c-dev drivers and the ivshmem BAR that the host plays the FPGA on. Each result is
# one console line "HIL-RESULT <name> PASS|FAIL <detail>"; "HIL-CTL <n> <request>" asks the host
# for something (a look at the BAR, a register image to compare, the pulse stopped or started)
# and waits until the host answers "HIL-ACK <n>" on the console's input. /hil/env gives BIN
# (velaclockd's directory) and INITIAL (the mux registers' initial values, "address=value ...").
. /hil/env
export XDG_RUNTIME_DIR=/run
D=$BIN/velaclockd
C=$BIN/velaclockctl
SINKS=hardware/strobe/sink/cliConfig/FixedSystem
seq=0

result() { # name, PASS or FAIL, detail
  echo "HIL-RESULT $1 $2 $3" | tr '\n' ' '
  echo
}
check() { # name, command...: a result from the command's status; it may set $detail
  name=$1
  shift
  detail=
  if "$@"; then result "$name" PASS "$detail"; else result "$name" FAIL "$detail"; fi
}
uptime_cs() { # centiseconds since boot
  read up _ </proc/uptime
  echo "${up%.*}${up#*.}"
}
host() { # request...: asks the host and waits (at most 20 s) for its answer on the console
  seq=$((seq + 1))
  echo "HIL-CTL $seq $*"
  while read -t 20 -r reply; do
    [ "$reply" = "HIL-ACK $seq" ] && return 0
  done
  result "host-$seq" FAIL "the host did not answer: $*"
  return 1
}
within() { # centiseconds, command...: runs the command until it succeeds or the time is up
  limit=$(($(uptime_cs) + $1))
  shift
  until "$@"; do
    [ "$(uptime_cs)" -ge $limit ] && return 1
    sleep 0.05
  done
}
started() { # description, instance: starts velaclockd and waits until it answers
  $D --platform "$1" --instance "$2" >/tmp/$2.log 2>&1 &
  pid=$!
  within 3000 $C --instance "$2" show sources >/dev/null 2>&1
}
stopped() {
  kill $pid
  wait $pid
}
refused_absent() { # command...: exits 2 naming the bank, the address and the cause
  out=$("$@" 2>&1)
  rc=$?
  detail="exit $rc: $out"
  [ $rc -eq 2 ] && echo "$out" | grep -q 'IntelGpioHam.*0x22.*nothing answers'
}
pps_is() { # instance, up or down
  $C --instance "$1" show pps | awk -v want="$2" 'NR == 2 { exit $1 != want }'
}
pps_goes() { # instance, up or down, centiseconds allowed: measured from now
  from=$(uptime_cs)
  within "$3" pps_is "$1" "$2"
  ok=$?
  detail="$2 after $(($(uptime_cs) - from))0 ms (allowed $3 cs)"
  return $ok
}
route_intact() { # instance, sink
  detail=$($C --instance "$1" show sinks | awk -v sink="$2" '$1 == sink')
  echo "$detail" | awk '{ exit $NF != "yes" }' && [ -n "$detail" ]
}
failed_routes() { # instance: mux register accesses of strobe routes that failed so far
  $C --instance "$1" metrics |
    awk '/^velaclock_route_access_failures_total\{kind="strobe"\}/ { n = $2 } END { print n + 0 }'
}
device_failures() { # instance, device: its failed accesses and latest errno in the metrics
  $C --instance "$1" metrics | awk -v device="device=\"$2\"" '!index($0, device) { next }
    /^velaclock_device_access_failures_total/ { n = $2 } /^velaclock_device_last_errno/ { e = $2 }
    END { print n + 0, e + 0 }'
}
route_fails_and_daemon_serves() { # instance
  before=$(failed_routes "$1")
  $C --instance "$1" set $SINKS cliConfig asic1/pps-in sourceName=fpga1/ptp-pps >/dev/null
  after=$(failed_routes "$1")
  failures=$(device_failures "$1" IntelGpioHam)
  detail="failed routes $before -> $after; IntelGpioHam's failures and errno: $failures"
  [ "$after" -gt "$before" ] && [ "${failures% *}" -gt 0 ] && [ "${failures#* }" -gt 0 ] &&
    kill -0 $pid && $C --instance "$1" show sources >/dev/null
}
route_succeeds() { # instance, source
  before=$(failed_routes "$1")
  $C --instance "$1" set $SINKS cliConfig asic1/pps-in sourceName="$2" >/dev/null
  detail="failed routes $before -> $(failed_routes "$1")"
  [ "$(failed_routes "$1")" -eq "$before" ] && route_intact "$1" asic1/pps-in
}
i2c_image() { # address: the device's nonzero registers, "address=value ..."
  i2cdump -y 0 "$1" b | awk '/^[0-9a-f]0:/ {
      base = (index("0123456789abcdef", substr($1, 1, 1)) - 1) * 16
      for (i = 2; i <= 17; i++) if ($i != "00") { printf "%s%02x=%s", sep, base + i - 2, $i; sep = " " }
    } END { print "" }'
}
relay_released() { # the expander's pin 0: output bit and configuration bit clear, others as they were
  out=$(i2cget -y 0 0x20 0x01) && conf=$(i2cget -y 0 0x20 0x03) || return 1
  detail="output $out, configuration $conf"
  [ "$out" = 0xfe ] && [ "$conf" = 0xfe ]
}
stub_loaded() { # i2c-stub with the mux registers' initial values and a powered-up expander
  insmod /lib/modules/i2c-stub.ko chip_addr=0x20,0x21 || return 1
  for pair in $INITIAL; do i2cset -y 0 0x21 "0x${pair%=*}" "0x${pair#*=}" || return 1; done
  # A PCA9554 powers up with every pin an input and the output port all ones.
  i2cset -y 0 0x20 0x01 0xff && i2cset -y 0 0x20 0x03 0xff
}

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/shm /run /tmp
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs -o mode=0700 tmpfs /run
stty -echo # the host's answers are not for the console's output
insmod /lib/modules/i2c-dev.ko
check stub-loaded stub_loaded
echo "HIL-BOOTED $(uptime_cs)"

# --- a bank at an address where nothing answers: named by --check and at start ------------------
check check-absent refused_absent $D --check /hil/absent.yaml
check start-absent refused_absent $D --platform /hil/absent.yaml --instance absent

# --- mux registers, the relay and the PPS counter on the FPGA's window ---------------------------
if check mmio-started started /hil/mmio.yaml mmio; then
  host snap mmio-start
  check relay-released within 500 relay_released
  $C --instance mmio set $SINKS cliConfig asic1/pps-in sourceName=system/ocxo1-pps >/dev/null
  host snap mmio-routed
  check mmio-route-intact route_intact mmio asic1/pps-in
  check pps-up pps_goes mmio up 1000
  host pps stop && check pps-down pps_goes mmio down 150
  host pps start && check pps-up-again pps_goes mmio up 300
  check mmio-stopped stopped
fi

# --- the same mux registers on an SMBus device; it goes away and comes back ----------------------
if check i2c-started started /hil/i2c.yaml i2c; then
  $C --instance i2c set $SINKS cliConfig asic1/pps-in sourceName=system/ocxo1-pps >/dev/null
  host image i2c-routed "$(i2c_image 0x21)"
  check i2c-route-intact route_intact i2c asic1/pps-in
  rmmod i2c-stub
  check i2c-lost route_fails_and_daemon_serves i2c
  check stub-back stub_loaded
  check i2c-back route_succeeds i2c system/gps1
  check i2c-stopped stopped
fi
# --- i2c-stub's costs, for the record (no target: TCG's emulation sets them) ----------------------
if [ -x $BIN/platform_bench ]; then
  VELACLOCK_BENCH_I2C=0:0x21 $BIN/platform_bench --benchmark_filter=backend:2 \
    --benchmark_min_time=0.05 2>&1 | sed -n 's/^\([a-zA-Z0-9]*\/backend:2\)/HIL-BENCH \1/p'
fi
echo "HIL-DONE"
poweroff -f
