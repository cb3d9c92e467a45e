"""Indexes the small project in examples/project with tolvo_rs and prints what it finds."""
import os
import subprocess
import sys

import tolvo_rs


def main(root):
    root = os.path.abspath(root)
    paths = []
    for directory, _, names in os.walk(root):
        paths += [os.path.join(directory, name) for name in names]
    files = tolvo_rs.StdAstFileSystem(paths)
    python_files = files.all_files()
    print(f"{len(paths)} files under {root}, {len(python_files)} of them Python source")

    module_names = subprocess.run(
        [os.path.join(os.path.dirname(__file__), "..", "build", "examples", "module-names"), root,
         *python_files],
        check=True, capture_output=True, text=True).stdout.splitlines()
    cache = tolvo_rs.AstFileParserCache([], root, files)
    for line in module_names:
        path, module = line.split("\t")
        _, text, imports = cache.get_parsed_file(path)
        print(f"  {module:<20} {os.path.relpath(path, root):<22} {len(text.splitlines()):>3} lines")
        for imported_module, names in sorted(imports.items()):
            bound = ", ".join(name if locals_ == [name] else f"{name} as {'/'.join(locals_)}"
                              for name, locals_ in sorted(names.items()))
            print(f"      from {imported_module} import {bound}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "project"))
