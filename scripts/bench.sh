#!/usr/bin/env bash
# Filled in by the work that adds the bench.
echo "bench: nothing to run yet"
