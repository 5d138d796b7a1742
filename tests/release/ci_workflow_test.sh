#!/bin/sh
# The CI workflow of the hosted Windows runner, which no machine here can
# run: its YAML parses, its jobs are the bundle made on Debian 12 and the
# bundle run on Windows, and each step runs a command the README gives.
# Usage: ci_workflow_test.sh
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
# Debian's Python with its PyYAML (install-deps.sh installs python3-yaml).
exec /usr/bin/python3 - "$here/.github/workflows/windows.yml" "$here/README.md" <<'PYTHON'
import sys
import yaml

workflow_path, readme_path = sys.argv[1], sys.argv[2]
failures = 0


def check(description, holds):
    global failures
    print(("ok: " if holds else "FAILED: ") + description)
    failures += 0 if holds else 1


try:
    with open(workflow_path) as workflow_file:
        workflow = yaml.safe_load(workflow_file)
except yaml.YAMLError as error:
    print("FAILED: the workflow is not YAML: %s" % error)
    sys.exit(1)
readme = open(readme_path).read()
jobs = workflow.get("jobs", {})
check("it runs on every push and pull request", set(workflow.get(True, workflow.get("on", {})) or {}) >= {"push", "pull_request"})
check("its jobs are bundle and windows", set(jobs) == {"bundle", "windows"})
check("the bundle is made on Debian 12", jobs.get("bundle", {}).get("container") == "debian:12")
check("the bundle runs on a hosted Windows runner", jobs.get("windows", {}).get("runs-on") == "windows-latest")
check("the Windows job waits for the bundle", jobs.get("windows", {}).get("needs") == "bundle")
# Each step: a known action, or a command the README documents.
documented = ["make windows-tests", "run-tests.cmd", "Expand-Archive", "discord-rpc-win.zip", "apt-get install"]
for name, job in jobs.items():
    for step in job.get("steps", []):
        if "uses" in step:
            check("%s uses %s" % (name, step["uses"]), step["uses"].split("@")[0] in
                  ("actions/checkout", "actions/upload-artifact", "actions/download-artifact"))
            continue
        command = step.get("run", "")
        words = [word for word in documented if word in command]
        check("%s runs '%s', which the README gives" % (name, command.strip().splitlines()[-1]),
              bool(words) and all(word in readme for word in words))
sys.exit(1 if failures else 0)
PYTHON
