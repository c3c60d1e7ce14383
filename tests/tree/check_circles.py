#!/usr/bin/env python3
"""Fails when files call each other in a circle: a unit is a header and its source file
(X.h with X.cpp); a unit uses another when one of its files includes the other's header. Any
circle of uses (A uses B, B uses ... A) is reported with the units on it.
    check_circles.py SRC"""
import os
import re
import sys

src = sys.argv[1]
include = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
uses = {}
for folder, _, names in os.walk(src):
    for name in names:
        stem, ext = os.path.splitext(name)
        if ext not in ('.h', '.cpp'):
            continue
        path = os.path.join(folder, name)
        unit = os.path.relpath(os.path.join(folder, stem), src).replace(os.sep, '/')
        with open(path, encoding='utf-8') as file:
            text = file.read()
        targets = uses.setdefault(unit, set())
        for header in include.findall(text):
            target = os.path.splitext(header)[0]
            if '/' not in target:  # same folder
                target = os.path.relpath(os.path.join(folder, target), src).replace(os.sep, '/')
            if target != unit:
                targets.add(target)

# Tarjan's strongly connected components, iterative.
index, low, on_stack, stack, circles, counter = {}, {}, set(), [], [], [0]
for start in sorted(uses):
    if start in index:
        continue
    work = [(start, iter(sorted(uses.get(start, ()))))]
    index[start] = low[start] = counter[0]; counter[0] += 1
    stack.append(start); on_stack.add(start)
    while work:
        unit, children = work[-1]
        child = next(children, None)
        if child is not None:
            if child not in uses:
                continue
            if child not in index:
                index[child] = low[child] = counter[0]; counter[0] += 1
                stack.append(child); on_stack.add(child)
                work.append((child, iter(sorted(uses[child]))))
            elif child in on_stack:
                low[unit] = min(low[unit], index[child])
            continue
        work.pop()
        if work:
            parent = work[-1][0]
            low[parent] = min(low[parent], low[unit])
        if low[unit] == index[unit]:
            members = []
            while True:
                member = stack.pop(); on_stack.discard(member); members.append(member)
                if member == unit:
                    break
            if len(members) > 1:
                circles.append(sorted(members))

for members in circles:
    print('files call each other in a circle: ' + ', '.join(members), file=sys.stderr)
if circles:
    print(f'{len(circles)} circle(s) of calls between files', file=sys.stderr)
    sys.exit(1)
print(f'no circle of calls between {len(uses)} files')
