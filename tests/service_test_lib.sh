# Sourced by the service's shell tests (nginx_test.sh, highscore_cli_test.sh), which set
# $service (the kulimbara-highscore program) and $scratch (their mktemp -d folder).

# Starts the service on a free port of ADDR with its database in the scratch folder and its log
# in $scratch/service.log; sets service_pid and service_port, or says why not and fails.
start_service() {  # ADDR [OPTION]...
  : >"$scratch/service.log"  # so that a restart cannot read the last run's port
  "$service" --listen "$1:0" --db "$scratch/scores.sqlite" "${@:2}" 2>"$scratch/service.log" &
  service_pid=$! service_port=
  for _ in $(seq 100); do
    service_port=$(sed -n '1s/.*listening on .*:\([0-9]*\), database.*/\1/p' "$scratch/service.log")
    [ -n "$service_port" ] && return 0
    sleep 0.1
  done
  echo "the service did not start: $(cat "$scratch/service.log")"; return 1
}
