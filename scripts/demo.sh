#!/bin/sh
echo "demo: not written yet"
