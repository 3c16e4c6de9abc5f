#!/usr/bin/python3
"""Reads a metrics file with the Prometheus client's own parser and prints
what it understood: "TYPE name type" per family, then one line per sample,
"name{label=value,...} value" with the labels sorted. A file the parser
rejects makes it exit with status 1."""
import sys

from prometheus_client.parser import text_string_to_metric_families

with open(sys.argv[1], encoding="utf-8") as f:
    text = f.read()
try:
    for family in text_string_to_metric_families(text):
        print(f"TYPE {family.name} {family.type}")
        for sample in family.samples:
            labels = ",".join(f"{k}={v}" for k, v in sorted(sample.labels.items()))
            print(f"{sample.name}{{{labels}}} {sample.value!r}")
except ValueError as error:
    print(f"rejected: {error}")
    sys.exit(1)
