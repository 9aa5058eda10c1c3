"""The command line every tree check shares: REPO_ROOT to check the tree, --self-test to show
that the checker tells good input from bad."""
import sys


def main(doc, check, self_test, passed, problem):
    """check(root) -> list of problem texts; self_test() -> bool. Returns the exit code."""
    if len(sys.argv) == 2 and sys.argv[1] == "--self-test":
        if not self_test():
            return 1
        print("self-test ok")
        return 0
    if len(sys.argv) != 2:
        print(doc)
        return 2
    problems = check(sys.argv[1])
    for p in problems:
        print(problem + p)
    if problems:
        print("%d found" % len(problems))
        return 1
    print(passed)
    return 0
