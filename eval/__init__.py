"""Evaluation toolkit: two-microphone scene simulator, objective metrics and the report."""

import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))  # the project's root
