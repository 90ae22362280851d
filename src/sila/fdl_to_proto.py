#!/usr/bin/env python3
"""Writes the gRPC .proto of a Feature Definition by the standard's mapping, so
that the server's service is always the one a client derives from the same
file. Usage: fdl_to_proto.py FEATURE.sila.xml OUT.proto
"""
import sys
import xml.etree.ElementTree as ET

NS = {"s": "http://www.sila-standard.org"}
FRAMEWORK = "sila2.org.silastandard"


def text(node, name):
    return node.find("s:" + name, NS).text.strip()


def described(node):
    return " ".join(text(node, "Description").split())


class Writer:
    def __init__(self, feature):
        self.feature = feature
        category = feature.get("Category") or "none"
        major = feature.get("FeatureVersion").split(".")[0]
        self.identifier = text(feature, "Identifier")
        self.package = f"sila2.{feature.get('Originator')}.{category}.{self.identifier.lower()}.v{major}"
        self.lines = []

    def field_type(self, data_type, parent, identifier):
        basic = data_type.find("s:Basic", NS)
        if basic is not None:
            return f"{FRAMEWORK}.{basic.text.strip()}"
        constrained = data_type.find("s:Constrained/s:DataType", NS)
        if constrained is not None:
            return self.field_type(constrained, parent, identifier)
        inner = data_type.find("s:List/s:DataType", NS)
        if inner is not None:
            return "repeated " + self.field_type(inner, parent, identifier)
        named = data_type.find("s:DataTypeIdentifier", NS)
        if named is not None:
            return f"{self.package}.DataType_{named.text.strip()}"
        if data_type.find("s:Structure", NS) is not None:
            return f"{parent}.{identifier}_Struct"
        raise ValueError(f"unknown data type under {identifier}")

    def message(self, name, nodes, parent, level=0):
        pad = "  " * level
        self.lines.append(f"{pad}message {name} {{")
        for node in nodes:
            for path in ("s:DataType/s:Structure", "s:DataType/s:List/s:DataType/s:Structure"):
                structure = node.find(path, NS)
                if structure is not None:
                    ident = text(node, "Identifier")
                    self.message(f"{ident}_Struct", structure.findall("s:Element", NS),
                                 f"{parent}.{ident}_Struct", level + 1)
        for number, node in enumerate(nodes, start=1):
            ident = text(node, "Identifier")
            kind = self.field_type(node.find("s:DataType", NS), parent, ident)
            self.lines.append(f"{pad}  {kind} {ident} = {number};  /* {described(node)} */")
        self.lines.append(f"{pad}}}")

    def service(self):
        f, pkg = self.feature, self.package
        self.lines.append(f"/* {described(f)} */")
        self.lines.append(f"service {self.identifier} {{")
        for command in f.findall("s:Command", NS):
            name = text(command, "Identifier")
            if text(command, "Observable") == "No":
                self.lines.append(f"  rpc {name} ({pkg}.{name}_Parameters) returns ({pkg}.{name}_Responses) {{}}")
                continue
            uuid = f"{FRAMEWORK}.CommandExecutionUUID"
            self.lines.append(f"  rpc {name} ({pkg}.{name}_Parameters) returns ({FRAMEWORK}.CommandConfirmation) {{}}")
            self.lines.append(f"  rpc {name}_Info ({uuid}) returns (stream {FRAMEWORK}.ExecutionInfo) {{}}")
            if command.find("s:IntermediateResponse", NS) is not None:
                self.lines.append(f"  rpc {name}_Intermediate ({uuid}) returns "
                                  f"(stream {pkg}.{name}_IntermediateResponses) {{}}")
            self.lines.append(f"  rpc {name}_Result ({uuid}) returns ({pkg}.{name}_Responses) {{}}")
        for prop in f.findall("s:Property", NS):
            name = self.property_name(prop)
            stream = "stream " if text(prop, "Observable") == "Yes" else ""
            self.lines.append(f"  rpc {name} ({pkg}.{name}_Parameters) returns ({stream}{pkg}.{name}_Responses) {{}}")
        self.lines.append("}")

    @staticmethod
    def property_name(prop):
        prefix = "Subscribe_" if text(prop, "Observable") == "Yes" else "Get_"
        return prefix + text(prop, "Identifier")

    def messages(self):
        f, pkg = self.feature, self.package
        for definition in f.findall("s:DataTypeDefinition", NS):
            name = "DataType_" + text(definition, "Identifier")
            self.message(name, [definition], f"{pkg}.{name}")
        for command in f.findall("s:Command", NS):
            name = text(command, "Identifier")
            for suffix, element in (("Parameters", "Parameter"), ("Responses", "Response"),
                                    ("IntermediateResponses", "IntermediateResponse")):
                nodes = command.findall("s:" + element, NS)
                if suffix == "IntermediateResponses" and not nodes:
                    continue
                self.message(f"{name}_{suffix}", nodes, f"{pkg}.{name}_{suffix}")
        for prop in f.findall("s:Property", NS):
            name = self.property_name(prop)
            self.message(f"{name}_Parameters", [], f"{pkg}.{name}_Parameters")
            self.message(f"{name}_Responses", [prop], f"{pkg}.{name}_Responses")

    def proto(self):
        self.lines += ['syntax = "proto3";', "", 'import "SiLAFramework.proto";', "", f"package {self.package};", ""]
        self.service()
        self.messages()
        return "\n".join(self.lines) + "\n"


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    proto = Writer(ET.parse(sys.argv[1]).getroot()).proto()
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(proto)
    return 0


if __name__ == "__main__":
    sys.exit(main())
