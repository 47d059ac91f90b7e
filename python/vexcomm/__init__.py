"""Late-bound access to the VexComm5 home-banking component.

Objects come from CreateObject by ProgID; their members are reached by name in any case, as a
late-binding host reaches them. A VexComm made here runs on a module of its own whose wait
checks for Ctrl-C: an interrupt cancels the run and is raised again when Send returns.
"""

from ._vexcomm import CreateObject, CreateSocket, Error, MemberNotFound, Method, Object

__all__ = ["CreateObject", "CreateSocket", "Error", "MemberNotFound", "Method", "Object"]
