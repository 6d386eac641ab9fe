#!/usr/bin/env bash
# Filled in by the work that adds the fuzz.
echo "fuzz: nothing to run yet"
